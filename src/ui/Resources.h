// Resource identifiers shared by the resource script and the windows.
#pragma once

#define IDI_EVENT_ERROR 201
#define IDI_EVENT_SUCCESS 202
#define IDI_EVENT_INFO 203
#define IDB_LOGO 301
#define IDR_GUIDE 401
