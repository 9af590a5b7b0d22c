#pragma once

#include "archive/Extraction.h"

#include <QByteArray>

class EntryQueue;
class TarReader;

// The reader side of an extraction: reads and inflates every entry of the opened `reader` in
// turn, puts it below `bundle` (refusing hostile entries) and hands it with its data to the
// disk writer's side through `queue`; then checks the end of the compressed stream. Fatal as well
// when the writer side has stopped.
Extraction readEntries(TarReader &reader, const QByteArray &bundle, EntryQueue &queue);
