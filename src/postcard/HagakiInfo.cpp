// SPDX-License-Identifier: AGPL-3.0-or-later
// The two comparisons behind the document's change state. Strings compare byte
// for byte (case matters); the page number takes part in neither.
#include "postcard/HagakiInfo.h"

int CHagakiInfo::IsDiffUserFields(const CHagakiInfo& other) const {
    if (m_strFrom != other.m_strFrom)
        return 1;
    if (m_strFromkana != other.m_strFromkana)
        return 1;
    if (m_strNumber != other.m_strNumber)
        return 1;
    if (m_strYear != other.m_strYear)
        return 1;
    if (m_strType != other.m_strType)
        return 1;
    if (m_strMemo != other.m_strMemo)
        return 1;
    return 0;
}

int CHagakiInfo::IsDiffFileFields(const CHagakiInfo& other) const {
    if (m_bFile1Rotated != other.m_bFile1Rotated)
        return 1;
    if (m_bFile2Rotated != other.m_bFile2Rotated)
        return 1;
    if (m_bMerged != other.m_bMerged)
        return 1;
    if (m_strFile1 != other.m_strFile1)
        return 1;
    if (m_strFile2 != other.m_strFile2)
        return 1;
    if (m_strFilePageName != other.m_strFilePageName)
        return 1;
    return 0;
}
