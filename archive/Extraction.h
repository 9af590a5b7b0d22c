#pragma once

struct archive;

// How an extraction, or one side of it, ended; each value outweighs those before it. Failed: some
// entry was not written as archived, but the others had their turn. Fatal: it ended where it was.
enum class Extraction { Finished, Failed, Fatal };

void printArchiveError(archive *a);
// Prints why `a` returned `result`; true when that is fatal, which ends the extraction.
bool reportFatal(archive *a, int result);
