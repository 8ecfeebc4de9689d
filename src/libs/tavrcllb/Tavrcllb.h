// SPDX-License-Identifier: AGPL-3.0-or-later
// The TAVR library is opened at start-up and closed at exit. It has no work to
// do on this platform; the calls are kept so the start and stop order stays.
#pragma once

int TAVR_Open(int selector);
int TAVR_Close();
