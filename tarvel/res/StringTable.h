#pragma once
// The tool's string table: texts that the dialogs load by resource ID.

// The text of a string resource; "" when there is none.
const char* LoadResString(int nId);
