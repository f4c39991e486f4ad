// Text input and output shared by every file of a run: free-format reading,
// formatted and free-format writing, opening and closing files, and the ways
// a run ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pedseg {

// ---------------------------------------------------------------------------
// Ways a run ends.  The program entry catches these and turns them into the
// documented exit statuses.

constexpr int EXIT_INPUT_ERROR = 2;  // unreadable, missing or malformed input
constexpr int EXIT_SIZE_STOP = 3;    // a size limit of the program exceeded
constexpr int EXIT_WRITE_ERROR = 4;  // an output file could not be written
constexpr int EXIT_INTERNAL_ERROR = 5;  // out of memory, or a fault of the program

// Input error: `message` is the whole diagnostic and names the file.
struct InputError {
  std::string message;
};

// Stop on a size limit: `message` is the text written after "STOP ".
struct SizeStop {
  std::string message;
};

// An output file could not be written or closed; `message` names the file.
struct WriteError {
  std::string message;
};

// Runs a program's work and turns the way it ends into the exit status: 0,
// or one line on `err` and EXIT_INPUT_ERROR ("<program>: input error: ..."),
// EXIT_SIZE_STOP ("STOP ..."), EXIT_WRITE_ERROR ("<program>: write error:
// ..."), EXIT_INTERNAL_ERROR ("<program>: out of memory" or "<program>:
// internal error: ...").  `out` is flushed first, and a failed write to it
// is a write error.
int run_with_exit_status(const char* program, FILE* out, FILE* err,
                         const std::function<void()>& work);

// ---------------------------------------------------------------------------
// Free-format input.
//
// A file is read into memory whole.  Reads ("records") start on a fresh line;
// items are separated by blanks, tabs, a comma with or without blanks, or line
// ends; a record takes as many lines as it needs; when it ends, the rest of
// the line of its last item is skipped.  A record with no items still
// consumes one line.  Extensions: repeat counts (3*0, and 3* for three empty
// items), an empty item between two commas (the target keeps its value), and
// a slash that ends the record early (the remaining targets keep their
// values).  CR before a line end, a UTF-8 byte-order mark at the start of the
// file and tabs are taken as plain line ends and blanks.

struct InputFile {
  std::string name;   // as shown in diagnostics
  std::string data;   // whole content
  size_t pos = 0;     // next character to read
  int line = 1;       // line number of `pos`, from 1
};

// Opens an existing file for reading.  A missing or unreadable file is an
// input error naming it; nothing is ever created.
InputFile open_input(const std::string& name);

// The name of file `name` of folder `dir` as it is opened and named in
// diagnostics: `name` itself for the current folder ("" or ".").
std::string path_in(std::string_view dir, std::string_view name);

// An input file held in memory (tests, tools).
InputFile input_from_string(const std::string& name, std::string text);

// The state of one record being read.
struct RecordReader {
  InputFile* file = nullptr;
  std::string what;         // record description for diagnostics, e.g. "record 3"
  int items = 0;            // items taken so far (empty ones included)
  bool ended = false;       // a slash ended the record
  bool after_comma = true;  // no value since the last comma (or record start)
  int repeat_left = 0;      // copies of a repeated item still to hand out
  std::string repeat_text;  // the repeated item (empty text: empty items)
  int start_line = 0;
  int item_line = 0;        // line of the last item taken
};

// Starts a record at the current (fresh) line.  `what` describes it in
// diagnostics ("record 3", "parameter 5").
RecordReader begin_record(InputFile& file, std::string what);

// Each read returns true when it stored a value, false when the item was
// empty or the record had been ended by a slash (the target is unchanged).
// A file that ends first, or an item that is not a valid value of the kind,
// is an input error naming the file, the line and the record.
bool read_int(RecordReader& rec, int32_t& target);
bool read_real(RecordReader& rec, double& target);
bool read_real(RecordReader& rec, float& target);
// Text item stored in a field of `width` characters, cut or blank-filled.
bool read_text(RecordReader& rec, char* field, int width);

// A diagnostic about the record in the reader's wording:
// "par.inp, line 3 (parameter 2): <problem>", the line being that of the
// last item taken (or the current line when none was taken yet).
std::string record_diagnostic(const RecordReader& rec, std::string_view problem);

// Ends the record: skips the rest of the current line.  A record that took no
// item consumes one whole line, so at the end of the file it is an input
// error.
void end_record(RecordReader& rec);

// ---------------------------------------------------------------------------
// Output files.  Every file the program writes goes through OutputFile, so
// that a failed write or close is never silent.

//
// A file still open when its OutputFile ends (a run ended by an exception)
// is closed without a check: the exception under way is the one reported.
// Move-only, so that exactly one object closes each file.
struct OutputFile {
  std::string name;              // as shown in diagnostics
  FILE* fp = nullptr;            // open stream, or nullptr
  bool owns = false;             // fclose on close
  std::string* memory = nullptr; // when set, text is appended here instead

  OutputFile() = default;
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
};

// Creates the file or empties an existing one (par.err, max.dat, sigma.dat).
// Failure to open is a WriteError naming the file.
void open_output(OutputFile& out, const std::string& name);

// Wraps an already open stream (standard output) without owning it.
OutputFile output_stream(FILE* fp, const std::string& name);

// An output that collects its text in memory (tests).
OutputFile output_memory(std::string& buffer, const std::string& name);

// Writes text as it stands; a failed write is a WriteError.
void write_text(OutputFile& out, std::string_view text);

// Flushes and closes; a failed flush or close is a WriteError.  Closing a
// file that is not open does nothing.
void close_output(OutputFile& out);

bool is_open(const OutputFile& out);

// ---------------------------------------------------------------------------
// Formatted output through format strings such as
// "(1X,I2,1X,2E15.6,3X,I2,1X,2E15.6)".

struct FmtItem {
  enum Kind { Int, Real, Text } kind;
  int64_t i = 0;
  double d = 0.0;
  std::string_view s;
};

inline FmtItem fmt_int(int64_t v) { return FmtItem{FmtItem::Int, v, 0.0, {}}; }
inline FmtItem fmt_real(double v) { return FmtItem{FmtItem::Real, 0, v, {}}; }
inline FmtItem fmt_text(std::string_view v) { return FmtItem{FmtItem::Text, 0, 0.0, v}; }

// The lines that the format writes for the items, each ended by '\n'.
std::string format_lines(std::string_view format, std::initializer_list<FmtItem> items);

// Single edit descriptors.
std::string edit_E(double value, int w, int d);
std::string edit_I(int64_t value, int w);

// Writes format_lines(...) to `out`.
void write_formatted(OutputFile& out, std::string_view format,
                     std::initializer_list<FmtItem> items);

// ---------------------------------------------------------------------------
// Free-format console lines: a leading blank, then the items in order.  Texts
// stand as they are; integers are right-aligned in 11 columns, reals written
// as %.16E (17 significant digits) right-aligned in 24 columns; a number that
// follows another item gets one more blank before its field.  So a line
// holding one integer alone is a blank and the integer in 11 columns.

std::string free_line(std::initializer_list<FmtItem> items);

// The shortest %g text (at least 6 significant digits) that reads back as
// the same value: for messages and tables meant for people.
std::string shortest_text(double value);
// %.17g: every double written so that it reads back exactly (the TSV files).
std::string real17(double value);
std::string shortest_text(float value);
void write_free(OutputFile& out, std::initializer_list<FmtItem> items);

}  // namespace pedseg
