// What both sides of enn's console (cli/console_*.cpp) keep of standard
// output: the first failed write, and whether anything was written.
#ifndef VELTRANE_CLI_OUTPUT_H
#define VELTRANE_CLI_OUTPUT_H

// Notes that something is given to standard output.
void NoteOutputWritten();

// Notes that standard output took count more bytes of data.
void NoteOutputBytes(long long count);

// Notes that a write to standard output failed, with errno (EIO when errno
// says nothing); only the first failure is kept.
void NoteOutputError();

#endif
