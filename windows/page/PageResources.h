// The anchor page's dialogs and their controls, named as in the form. Read by the resource
// compiler too, so only #define lines.
#pragma once

#define IDD_ANCHORPAGE 200
#define IDD_TAB_ANCHOREDTO 201
#define IDD_TAB_PRIMARYANCHOR 202
#define IDD_TAB_ALTERNATEANCHOR 203
#define IDD_TAB_OPTIONS 204

#define IDC_lblTitle 1000
#define IDC_lblTitleNote 1001
#define IDC_sstabAnchorProperties 1002

#define IDC_lblAnchoringDescription 1010
#define IDC_chkAnchor 1011
#define IDC_OptAnchorTo_0 1012
#define IDC_OptAnchorTo_1 1013
#define IDC_lblElementHint 1014
#define IDC_lstElementNames 1015
#define IDC_framePageScale 1016
#define IDC_lblMultiPage 1017
#define IDC_optMultiPage_0 1018
#define IDC_optMultiPage_1 1019
#define IDC_cmbAlternateType 1020
#define IDC_lblPageRange 1021
#define IDC_txtPageRange 1022
#define IDC_lblPageRangeHint 1023

#define IDC_lblAnchorTheAll 1030
#define IDC_cmbAnchorFromAll 1031
#define IDC_lblOfThisElementAll 1032
#define IDC_lblToTheAll 1033
#define IDC_cmbAnchorToAll 1034
#define IDC_lblPageSelectedAll 1035
#define IDC_Frame2 1036
#define IDC_lblDistFrame2 1037
#define IDC_txtHDistanceAll 1038
#define IDC_lblHintFrame2 1039
#define IDC_chkHDistanceFieldAll 1040
#define IDC_cmdHFieldAll 1041
#define IDC_lblMapHintFrame2 1042
#define IDC_Frame3 1043
#define IDC_lblDistFrame3 1044
#define IDC_txtVDistanceAll 1045
#define IDC_lblHintFrame3 1046
#define IDC_chkVDistanceFieldAll 1047
#define IDC_cmdVFieldAll 1048
#define IDC_lblMapHintFrame3 1049
#define IDC_cmdGetCurrentXYPrimary 1050

#define IDC_lblAnchorTheAlt 1060
#define IDC_cmbAnchorFromAlt 1061
#define IDC_lblOfThisElementAlt 1062
#define IDC_lblToTheAlt 1063
#define IDC_cmbAnchorToAlt 1064
#define IDC_lblPageSelectedAlt 1065
#define IDC_Frame4 1066
#define IDC_lblDistFrame4 1067
#define IDC_txtHDistanceAlt 1068
#define IDC_lblHintFrame4 1069
#define IDC_chkHDistanceFieldAlt 1070
#define IDC_cmdHFieldAlt 1071
#define IDC_lblMapHintFrame4 1072
#define IDC_Frame5 1073
#define IDC_lblDistFrame5 1074
#define IDC_txtVDistanceAlt 1075
#define IDC_lblHintFrame5 1076
#define IDC_chkVDistanceFieldAlt 1077
#define IDC_cmdVFieldAlt 1078
#define IDC_lblMapHintFrame5 1079
#define IDC_lblHorizontalOpposite 1080
#define IDC_cmdMakeHorizontalOpposite 1081
#define IDC_cmdGetCurrentXYAlternate 1082

#define IDC_lblAnchorPriority 1090
#define IDC_cmbAnchorPriority 1091
#define IDC_lblPriorityExplanation 1092
