#pragma once
// Identifiers shared by the resource script and the code.

// String table: the main window's five texts, consecutive.
#define IDS_MAIN_DESCRIPTION 100
#define IDS_MAIN_BACKUP 101
#define IDS_MAIN_RESTORE 102
#define IDS_MAIN_SETTINGS 103
#define IDS_MAIN_CLOSE 104
