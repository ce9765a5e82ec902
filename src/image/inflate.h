// One-shot decoder of zlib-wrapped DEFLATE streams into a buffer sized in advance.
#pragma once

#include <cstddef>
#include <cstdint>

// Capacity of the output buffer in bytes; set before each call. Inflate never writes at or beyond it.
extern uint32_t OutputLimit;

// Decodes the zlib stream (two header bytes first) into output, writing from output[start] on; bytes before start
// are history that back-references may reach. Returns the output position after the last byte written, or -1 for
// a malformed stream (InflateError() says why). The header bytes and the Adler-32 trailer are not checked.
// Reads only stream[0..streamLength): no spare bytes are needed after the data.
int64_t Inflate(const uint8_t* stream, size_t streamLength, uint8_t* output, uint32_t start);

// Which code decodes: 0 the plain code (the reference: one literal per table entry, no BMI2), 1 (the default) two
// literals per entry in the blocks where that pays and BMI2 where the processor has it, 2 two literals per entry
// wherever the codes allow it. The output and the result are the same on every path; tests and fuzzers compare them.
extern int InflatePath;

// Where the rest of a stream lies when it comes in pieces (a PNG's image data in several chunks): `next` gives the
// next piece and its length, or null when there are no more; it is passed `context`.
struct InflateSource {
    const uint8_t* (*next)(void* context, size_t* length);
    void* context;
};

// The same decode of a stream in pieces: the first is stream[0..streamLength), the others come from `more` as each
// is used up, and any piece may be empty. Reads only the pieces' bytes.
int64_t Inflate(const uint8_t* stream, size_t streamLength, const InflateSource& more, uint8_t* output, uint32_t start);

// Short reason for the last -1 result of Inflate.
const char* InflateError();

// Gives each symbol with a non-zero length its canonical code (most significant bit first) in codes[], in
// increasing symbol order per length; symbols of length 0 get code 0. Lengths are 0..15.
void AssignCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);
