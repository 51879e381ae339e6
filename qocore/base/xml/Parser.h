#pragma once
// The XML parser: a small, tolerant parser of a whole document held in
// memory into a tree of xml::Node.
//
// Tolerant means that two faults are warnings rather than errors: an end
// tag that matches no open element, and a text without any element (codes
// 1 and 2; the tree is still returned).  Every other fault ends the parse
// with its code (ErrorCode.h) and the empty node, and with the line and
// column where the parser stopped.  The process-wide options of
// CharEncoding.h are read by every parse.

#include "qocore/base/xml/CharEncoding.h"
#include "qocore/base/xml/ErrorCode.h"
#include "qocore/base/xml/Node.h"

namespace xml {

inline constexpr const char kVersionText[] = "v2.43";

// Elements nested deeper than this end the parse with kUnexpectedToken at
// the start tag of the first one too deep (the parser recurses once per
// level).  A declaration directly under the root, which holds the rest of
// its document, does not count as a level.
inline constexpr int kMaxDepth = 1000;

struct ParseResults {
  int error = 0;
  // Counted from 1; both 0 when there is no code, for code 11, and for a
  // null text.
  int line = 0;
  int column = 0;
};

// Parses a NUL-terminated text.  The top element is the single element of
// the text, or an unnamed root holding everything when the text held more
// than one top-level item.  With an expected tag (not null, not empty) the
// top element must have that name, or else its first child of that name
// becomes the result (code 11 when there is none).  A null text gives the
// empty node and code 9.
Node parseText(const char* text, const char* expectedTag = nullptr, ParseResults* results = nullptr);

// Reads a whole file, skips a UTF-8 byte-order mark and parses the rest:
// code 10 when the file cannot be read, 3 when it is empty.
Node parseFile(const char* path, const char* expectedTag = nullptr, ParseResults* results = nullptr);

// Like parseFile, with the encoding guessed from the first 200 bytes for
// this parse, but any non-zero code writes the failure to stderr and ends
// the process with status 255.  Only for files the program ships: nothing
// that reads a user's file may call it.
Node openFile(const char* path, const char* expectedTag = nullptr);

// The likely encoding of a document: 0 (unknown) below 25 bytes, 1 after a
// UTF-8 byte-order mark, else 1 or 2 by whether the bytes hold valid UTF-8
// sequences.  With useEncodingAttribute an "encoding" attribute in the
// first 200 bytes decides: UTF-8 (0 when the bytes are not UTF-8),
// Shift-JIS, GB2312, Big5, GBK, or 2 for any other name.
int guessCharEncoding(const void* buffer, int length, bool useEncodingAttribute) noexcept;

}  // namespace xml
