/* Resource and command identifiers, shared by the resource script and the
   code. Plain #defines so that the resource compiler reads them too. */
#ifndef ZEPHLAR_RESOURCE_H
#define ZEPHLAR_RESOURCE_H

#define IDD_WIZARD 101
#define IDI_APP 102
#define IDB_BACKGROUND 104
#define IDB_BTN_BACK 107
#define IDB_BTN_CANCEL 108
#define IDB_BTN_NEXT 109
#define IDB_BTN_OK 110
#define IDB_PANEL 115
#define IDD_PANEL 116

/* Wizard commands: the ids of the template's hidden buttons and of the
   WM_COMMAND messages that the drawn buttons and the worker send. */
#define ID_WIZARD_CANCEL 1000
#define ID_WIZARD_NEXT 1001
#define ID_WIZARD_BACK 1002
#define ID_WIZARD_LAST 1006

/* The status log: the page's list box with this identifier. */
#define IDC_STATUS_LOG 5345

#endif
