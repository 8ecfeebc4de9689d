// SPDX-License-Identifier: AGPL-3.0-or-later
#include "tavrcllb/Tavrcllb.h"

int TAVR_Open(int selector) {
    (void)selector;
    return 0;
}

int TAVR_Close() {
    return 0;
}
