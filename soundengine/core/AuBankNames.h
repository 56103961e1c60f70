// Bank IDs from bank names, and the file name the bank manager opens for each.
#pragma once

#include <AU/AuTypes.h>

// Receives (bank ID, name cut at its first '.') for every bank named by the game; the bank
// manager installs its SetBankFileName here and appends ".bnk" itself. Null drops the names.
using AuBankFileNameSink = void (*)(AuUniqueID bankID, const char* cutName);
void AuSetBankFileNameSink(AuBankFileNameSink sink);

// The ID of the name cut at its first '.'; the bank manager learns the file name.
AuUniqueID GetBankIDFromName(const char* name);
// Converts at most 259 characters through the ANSI code page first.
AuUniqueID GetBankIDFromName(const wchar_t* name);
