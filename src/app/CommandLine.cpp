// SPDX-License-Identifier: AGPL-3.0-or-later
#include "app/CommandLine.h"
