// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard record: six user fields, three file references, three per-visit
// flags and the page number. Strings are CP932 bytes.
#pragma once

#include <string>

class CHagakiInfo {
public:
    virtual ~CHagakiInfo() = default;

    std::string GetFrom() const { return m_strFrom; }
    void SetFrom(std::string s) { m_strFrom = std::move(s); }
    std::string GetFromkana() const { return m_strFromkana; }
    void SetFromkana(std::string s) { m_strFromkana = std::move(s); }
    std::string GetNumber() const { return m_strNumber; }
    void SetNumber(std::string s) { m_strNumber = std::move(s); }
    std::string GetYear() const { return m_strYear; }
    void SetYear(std::string s) { m_strYear = std::move(s); }
    std::string GetType() const { return m_strType; }
    void SetType(std::string s) { m_strType = std::move(s); }
    std::string GetMemo() const { return m_strMemo; }
    void SetMemo(std::string s) { m_strMemo = std::move(s); }
    std::string GetFile1() const { return m_strFile1; }
    void SetFile1(std::string s) { m_strFile1 = std::move(s); }
    std::string GetFile2() const { return m_strFile2; }
    void SetFile2(std::string s) { m_strFile2 = std::move(s); }
    std::string GetFilePageName() const { return m_strFilePageName; }
    void SetFilePageName(std::string s) { m_strFilePageName = std::move(s); }

    // 1 at the first difference of the six user fields (byte-wise), else 0.
    int IsDiffUserFields(const CHagakiInfo& other) const;
    // 1 at the first difference of the three flags and three file references.
    int IsDiffFileFields(const CHagakiInfo& other) const;

    std::string m_strFrom;
    std::string m_strFromkana;
    std::string m_strNumber;
    std::string m_strYear;
    std::string m_strType;
    std::string m_strMemo;
    std::string m_strFile1;
    std::string m_strFile2;
    std::string m_strFilePageName;
    int m_bFile1Rotated = 0;
    int m_bFile2Rotated = 0;
    int m_bMerged = 0;
    int m_iFilePageNumber = 1;
};
