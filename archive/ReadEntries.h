#pragma once

#include "archive/Extraction.h"

#include <QByteArray>

class EntryQueue;

// The reader side of an extraction: reads and inflates every entry of the opened `reader` in
// turn, puts it below `bundle` (refusing hostile entries) and hands it with its data to the
// disk writer's side through `queue`. Fatal as well when the writer side has stopped.
Extraction readEntries(archive *reader, const QByteArray &bundle, EntryQueue &queue);
