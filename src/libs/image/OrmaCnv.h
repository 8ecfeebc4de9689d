// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

// Writes a one-page PDF of page (from 1) of the source, copying the page object
// (no re-rendering). 0 on success, else a negative code with a trace line; no
// output file is left behind on failure.
int WorkDesk_ExtractPDF(const char* sourcePdf, int page, const char* outputPdf);
