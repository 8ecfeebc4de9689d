// SPDX-License-Identifier: AGPL-3.0-or-later
// Where the postcard edit pane takes its record from and hands it back to: the
// working postcard record and the manager's editable flag. The viewer session
// provides it over the document; tests provide their own.
#pragma once

#include "base/WinTypes.h"

class CHagakiInfo;

class IHagakiRecordSource {
public:
    virtual ~IHagakiRecordSource() = default;
    // Selector 0: the working record; 1: the record as loaded. 0 or an error code.
    virtual int GetHagakiInfo(CHagakiInfo& cInfo, int iSelect) = 0;
    // Takes cInfo in as the working record (the change state follows).
    virtual int SetHagakiInfo(const CHagakiInfo& cInfo) = 0;
    // A postcard manager exists.
    virtual BOOL HasHagakiManage() const = 0;
    // The manager lets the postcard be edited.
    virtual BOOL IsEditable() const = 0;
};
