#pragma once
// Resource and control identifiers of the window, shared with the resource
// script and with the tests that drive the window from outside.
#define IDI_QUILLET 1

#define IDC_FRA_DROP 100
#define IDC_LBL_WAIT 101
#define IDC_OPT_CRLF 102
#define IDC_OPT_LF 103
#define IDC_OPT_CR 104
#define IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS 105
#define IDC_CHK_ONE_LINE_END_AT_FILE_END 106
