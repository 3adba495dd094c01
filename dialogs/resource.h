// Identifiers of the dialog templates and their controls. Every template exists twice: Japanese
// (language 1041) and English (1033); GetSystemDefaultLangID() picks one at each load.
#pragma once

// ---- templates
#define IDD_CAMERA_JA 101
#define IDD_IMAGE_JA 102
#define IDD_IMAGE_FILTER_JA 103
#define IDD_ANALOG_JA 104
#define IDD_ANALOG_GAIN_JA 105
#define IDD_CAMERA_EN 106
#define IDD_IMAGE_FILTER_EN 107
#define IDD_IMAGE_EN 108
#define IDD_ANALOG_GAIN_EN 110
#define IDD_ANALOG_EN 111
#define IDD_GRAY_FILTER_EN 112
#define IDD_GRAY_FILTER_JA 113

// ---- every frame: OK (1) and Cancel (2) are IDOK and IDCANCEL
#define IDC_DEFAULT 3
#define IDC_TAB 1001
#define IDC_APPLY 1002

// ---- camera dialog (101 / 106)
#define IDC_CAM_COLOR 1009
#define IDC_CAM_SIZE 1010
#define IDC_CAM_SUBSAMPLE 1012
#define IDC_CAM_CLOCK 1014
#define IDC_CAM_H_TOTAL 1039
#define IDC_CAM_V_TOTAL 1040
#define IDC_CAM_H_EFFECTIVE 1041
#define IDC_CAM_V_EFFECTIVE 1042
#define IDC_CAM_H_START 1043
#define IDC_CAM_V_START 1044
#define IDC_CAM_WAIT_TIME 1045

// ---- analogue page "Analog Gain" (105 / 110): trackbar, edit box, up-down per value
#define IDC_AN_GLOBAL_TB 1013
#define IDC_AN_GLOBAL_ED 1015
#define IDC_AN_GLOBAL_UD 1038
#define IDC_AN_G1_TB 1018
#define IDC_AN_G1_ED 1019
#define IDC_AN_G1_UD 1039
#define IDC_AN_R_TB 1020
#define IDC_AN_R_ED 1021
#define IDC_AN_R_UD 1040
#define IDC_AN_B_TB 1022
#define IDC_AN_B_ED 1023
#define IDC_AN_B_UD 1041
#define IDC_AN_G2_TB 1024
#define IDC_AN_G2_ED 1025
#define IDC_AN_G2_UD 1042
#define IDC_AN_EXPOSURE_TB 1026
#define IDC_AN_EXPOSURE_ED 1027
#define IDC_AN_EXPOSURE_UD 1043
#define IDC_AN_MIRROR_V 1028
#define IDC_AN_MIRROR_H 1030
#define IDC_AN_AUTO_GAIN 1036
#define IDC_AN_AUTO_EXPOSURE 1037
#define IDC_AN_EXPOSURE_MS 1049

// ---- image pages "Image Filter" (103 / 107) and "Gray Filter" (113 / 112)
#define IDC_IM_BRIGHTNESS_TB 2001
#define IDC_IM_BRIGHTNESS_ED 2002
#define IDC_IM_BRIGHTNESS_UD 2004
#define IDC_IM_CONTRAST_TB 2011
#define IDC_IM_CONTRAST_ED 2012
#define IDC_IM_CONTRAST_UD 2014
#define IDC_IM_HUE_TB 2021
#define IDC_IM_HUE_ED 2022
#define IDC_IM_HUE_UD 2024
#define IDC_IM_SATURATION_TB 2031
#define IDC_IM_SATURATION_ED 2032
#define IDC_IM_SATURATION_UD 2034
#define IDC_IM_SHARPNESS_TB 2041
#define IDC_IM_SHARPNESS_ED 2042
#define IDC_IM_SHARPNESS_UD 2044
#define IDC_IM_RED_TB 2051
#define IDC_IM_RED_ED 2052
#define IDC_IM_RED_UD 2054
#define IDC_IM_GREEN_TB 2061
#define IDC_IM_GREEN_ED 2062
#define IDC_IM_GREEN_UD 2063
#define IDC_IM_BLUE_TB 2071
#define IDC_IM_BLUE_ED 2072
#define IDC_IM_BLUE_UD 2073
#define IDC_IM_GAMMA_TB 2081
#define IDC_IM_GAMMA_ED 2082
#define IDC_IM_GAMMA_UD 2084
#define IDC_IM_ONCE 2074
#define IDC_IM_ALL_FRAMES 1035
#define IDC_IM_BAYER0 1029
#define IDC_IM_BAYER1 1031
#define IDC_IM_BAYER2 1032
#define IDC_IM_BAYER3 1033

// Grey page: gains R, G1, G2, B then offsets R, G1, G2, B; trackbar n, edit n + 1, up-down n + 2.
#define IDC_GR_GAIN_R_TB 2100
#define IDC_GR_GAIN_G1_TB 2103
#define IDC_GR_GAIN_G2_TB 2106
#define IDC_GR_GAIN_B_TB 2109
#define IDC_GR_OFFSET_R_TB 2112
#define IDC_GR_OFFSET_G1_TB 2115
#define IDC_GR_OFFSET_G2_TB 2118
#define IDC_GR_OFFSET_B_TB 2121
#define IDC_GR_MODE_BAYER 1046
#define IDC_GR_MODE_CONVERT 1047
#define IDC_GR_MODE_GRAY 1048

#ifdef RC_INVOKED
// Window styles of the templates, as the dialogs' callers see them.
#define TOVIRA_FRAME_STYLE 0x90C800C8    // popup, visible, caption, system menu, modal frame
#define TOVIRA_PAGE_STYLE 0x50080048     // visible child without caption
#define TOVIRA_TRACKBAR_STYLE 0x50010018 // no ticks, both sides
#define TOVIRA_UPDOWN_STYLE 0x500000A6   // right-aligned, arrow keys, sets its buddy as a number
#define TOVIRA_EDIT_STYLE 0x50812080     // digits only
#define TOVIRA_COMBO_STYLE (CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP)
#define TOVIRA_CHECK_STYLE (BS_AUTOCHECKBOX | WS_TABSTOP)
#define TOVIRA_RADIO_STYLE (BS_AUTORADIOBUTTON)

// A trackbar, its edit box and its up-down on one row: label at x, trackbar at tbx..tbx+tbw, edit
// box right of it.
#define TOVIRA_TRIPLET(label, x, lw, tbx, tbw, ew, y, tb, ed, ud) \
    LTEXT label, -1, x, y + 2, lw, 8 \
    CONTROL "", tb, "msctls_trackbar32", TOVIRA_TRACKBAR_STYLE, tbx, y, tbw, 12 \
    CONTROL "", ed, "EDIT", TOVIRA_EDIT_STYLE, tbx + tbw + 2, y, ew, 12, WS_EX_CLIENTEDGE \
    CONTROL "", ud, "msctls_updown32", TOVIRA_UPDOWN_STYLE, tbx + tbw + 2 + ew, y, 10, 12
#endif
