// Scratch streams: seekable, readable and writable, with no name in the file
// system (memory, or an unlinked temporary file in $TMPDIR); nothing written
// to one stays on disk once it is closed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kavrel {

// Never null.  Its bytes stay in memory while they are few (where the C
// library has cookie streams), then go to a file.  When no scratch file can
// be made for them, the stream refuses the writes that need one and reads
// as what it kept, and the failure is recorded for the writing thread
// (scratch_failure), so a converter runs to its end and the host reports
// the failure instead of the process dying.
std::FILE *open_scratch_stream();

// A stream on a scratch file from its first byte, never held in memory (a
// service's upload and answer); null with errno set when no file can be
// made, for a caller that answers that failure itself.
std::FILE *try_scratch_stream();

// A second stream, for reading from its start with a position of its own,
// on the file of `f`, a stream that the two functions above gave (one in
// memory moves to a file first); null when `f` is no such stream or no file
// can take its bytes.  Like a second stdio stream on a file, it may not see
// what `f` writes after it read that part.
std::FILE *reopen_scratch_stream(std::FILE *f);

// Empties the file under `f` (flushed first) and rewinds `f`; false when the
// file cannot be emptied.
bool empty_stream(std::FILE *f);

// A read-write stream on descriptor `fd`, buffered by `buffer` of `size`
// bytes (null: the C library's own buffer); null when none can be made,
// with `fd` closed and errno kept.
std::FILE *stream_on_descriptor(int fd, char *buffer, size_t size);

// A thread keeps the files of the scratch streams it opened and lends them
// to its later streams, as making a file costs more than emptying one; a
// file is emptied (truncated to nothing) when the last stream on it closes.
// This closes the files that no stream holds now (the others close with
// their streams), so that the thread holds no descriptor for them.
void release_scratch_files();

// The folder scratch files go in: $TMPDIR when set, else /tmp.
std::string scratch_folder();

// Converters write into their streams without looking at the result, so the
// host looks for them: the errno of the first failure recorded on this thread
// since the last reset, or 0.  A stream the host holds has its error
// indicator checked with check_stream before it is closed.
int scratch_failure();
void reset_scratch_failure();
void record_scratch_failure(int error);
// Flushes `f` and records a failure when it has seen one; false then.
bool check_stream(std::FILE *f);

// To call right after a scratch file (descriptor `fd`) was emptied to be
// filled again.  ext4 writes a file's data back to disk when a description
// of it closes after it was emptied (its guard for programs that replace a
// file's contents that way); a description opened and closed at once takes
// that on while there is nothing to write.  Elsewhere it costs an open.
void settle_emptied(int fd);

}  // namespace kavrel
