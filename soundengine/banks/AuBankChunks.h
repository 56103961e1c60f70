// The chunk loop: a bank read front to back, each known chunk handed to its reader and every
// other chunk skipped. Each chunk's reader is bounded to its payload, so a size that disagrees
// with the content can never make it read into the next chunk or past the bank.
#pragma once

#include "banks/AuBankReader.h"
#include "banks/AuBankSinks.h"

class CAuBankFileNames;

struct AuBankChunkSinks {
    IAuBankSettingsSink* pSettings; // "STMG"
    IAuCurveTableSink* pCurves;     // "ENVS"
    IAuBankMediaSink* pMedia;       // "DIDX" and "DATA"
    IAuHierarchySink* pHierarchy;   // "HIRC"
    CAuBankFileNames* pNames;       // "STID"
};

// The header chunk, which must come first: 7 for another tag, a truncated chunk header or a
// payload under 20 bytes; 56 when the payload is shorter than its size; 64 for a version other
// than 112, once the whole header chunk has been read. `header` holds the fields whenever they
// were read, whatever the result.
AURESULT AuReadBankHeader(CAuBankReader& reader, AuBankHeader& header);

// The chunks after the header, until the bank ends (1). 7 for a chunk header cut short or a
// skipped chunk shorter than its size; otherwise the first result other than 1 of a chunk
// reader. `dataInPlace`: a bank image in memory whose "DATA" is used where it lies.
AURESULT AuReadBankChunks(CAuBankReader& reader, AuBankLoadMode mode, bool dataInPlace,
                          const AuBankChunkSinks& sinks);

// Header, then chunks.
AURESULT AuReadBank(CAuBankReader& reader, AuBankLoadMode mode, bool dataInPlace,
                    const AuBankChunkSinks& sinks, AuBankHeader& header);
