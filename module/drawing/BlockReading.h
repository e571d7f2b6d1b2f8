// Reading block definitions and references for export: the attribute definitions
// of a block in definition order, a reference's attributes in stored order, and the
// records that pair the two. Every object opened here is closed before return.
#pragma once

#include "host/db/AcDbObject.h"
#include "module/drawing/AttributeRecord.h"

#include <string>
#include <vector>

class AcDbBlockReference;

namespace tabro {

// One record per attribute definition of the block, in definition order, holding
// its tag, prompt, default text and constant flag (erased entities skipped).
// False when the block's record or its entity iterator cannot be had; `records` is
// cleared first.
bool collectDefinitionRecords(AcDbObjectId blockId, std::vector<AttributeRecord>& records);

// The reference's attributes that open as attributes, in stored order (others are
// skipped), each with its text as a reader sees it (readAttributeText).
// `attributes` keeps its storage between calls; only the first `count` entries are
// this reference's.
bool readReferenceAttributes(const AcDbBlockReference& reference, std::vector<ReferenceAttribute>& attributes,
                             std::size_t& count);

// The definition's records with the reference's texts laid over them
// (overlayReferenceAttributes). False when the definition cannot be read; the
// reference then gets no row.
bool collectAttributeRecords(const AcDbBlockReference& reference, std::vector<AttributeRecord>& records);

// The block a reference belongs to as the user placed it: for a reference of an
// anonymous block made from a dynamic block (its parameters differ from the
// defaults), the dynamic block; for any other, the block it points at. Rows, sheets
// and the block-name column go by this block, never by the anonymous one, whose
// number changes between saves.
AcDbObjectId placedBlockOf(const AcDbBlockReference& reference);

// The name of a block table record as the table spells it. False when the record
// cannot be opened or its name cannot be read.
bool blockNameOf(AcDbObjectId blockId, std::string& name);

// Whether a block table name belongs to a layout: its first 12 bytes are
// "*MODEL_SPACE" or "*PAPER_SPACE" without regard to case (further paper space
// layouts go on after those 12 characters).
bool isLayoutBlockName(const char* name);

}  // namespace tabro
