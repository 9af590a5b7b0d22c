#pragma once

#include "archive/Extraction.h"

class EntryQueue;
class FlushPool;

// The disk writer's side of an extraction: creates and writes the entries `queue` delivers, in
// turn, with `writer`, and hands each regular file to `written` once it is complete. An entry that
// is not written as archived (not creatable, its data lost to a full disk) does not stop the
// entries after it, but the extraction has failed all the same.
Extraction writeEntries(EntryQueue &queue, archive *writer, FlushPool &written);
