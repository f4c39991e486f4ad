// The free-format reader on arbitrary bytes, driven by a sequence of reads
// chosen by the input itself.
//
// Input layout: byte 0 gives the number L (0..31) of operation bytes that
// follow; the rest is the file.  Operation byte b: b % 8 selects read_int,
// read_real (double), read_real (float), read_text (width 1 + b / 8),
// end_record and a new record; the sequence repeats until the reader throws
// or the file is used up.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "textio/textio.h"

using namespace pedseg;
using pedseg::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t nops = std::min<size_t>(data[0] % 32, size - 1);
  const uint8_t* ops = data + 1;
  InputFile file = input_from_string("fuzz.dat", fuzz::as_text(data + 1 + nops, size - 1 - nops));
  const size_t length = file.data.size();

  try {
    RecordReader rec = begin_record(file, "record 1");
    int record = 1;
    size_t last_pos = file.pos;  // never moves backwards
    int last_line = file.line;
    // Every read consumes input, hands out a repeated item, finds the record
    // ended by a slash, or throws; end_record at the end of the file may
    // return once without consuming.  Anything else is a stall.
    const size_t limit = 8 * length + 64;
    int stalls = 0;
    for (size_t step = 0; step < limit; ++step) {
      const int items_before = rec.items;
      const bool ended_before = rec.ended;
      const uint8_t op = nops == 0 ? static_cast<uint8_t>(step % 6) : ops[step % nops];
      switch (op % 8) {
        case 0: {
          int32_t v = 0;
          read_int(rec, v);
          break;
        }
        case 1: {
          double v = 0.0;
          if (read_real(rec, v)) check(std::isfinite(v), "read_real(double) stored a non-finite value");
          break;
        }
        case 2: {
          float v = 0.0f;
          if (read_real(rec, v)) check(std::isfinite(v), "read_real(float) stored a non-finite value");
          break;
        }
        case 3: {
          // A field with guard bytes on both sides.
          const int width = 1 + (op / 8) % 32;
          char buf[48];
          std::memset(buf, '#', sizeof buf);
          char* field = buf + 8;
          read_text(rec, field, width);
          for (int k = 0; k < 8; ++k) check(buf[k] == '#', "read_text wrote before its field");
          for (int k = 8 + width; k < 48; ++k) check(buf[k] == '#', "read_text wrote after its field");
          break;
        }
        case 4:
        case 5: {
          end_record(rec);
          rec = begin_record(file, "record " + std::to_string(++record));
          break;
        }
        default: {
          double v = 0.0;
          read_real(rec, v);
          break;
        }
      }
      check(file.pos <= length, "read position beyond the end of the file");
      check(file.pos >= last_pos, "read position moved backwards");
      // The line number counts exactly the line ends passed.
      const auto passed = std::count(file.data.begin() + static_cast<std::ptrdiff_t>(last_pos),
                                     file.data.begin() + static_cast<std::ptrdiff_t>(file.pos), '\n');
      check(file.line == last_line + passed, "line number does not match the line ends read");
      const bool progressed = file.pos > last_pos || rec.items > items_before || ended_before ||
                              rec.ended || op % 8 == 4 || op % 8 == 5;
      stalls = progressed ? 0 : stalls + 1;
      check(stalls < 2, "a read returned without consuming input, taking an item or failing");
      last_pos = file.pos;
      last_line = file.line;
    }
  } catch (const InputError& e) {
    check(e.message.rfind("fuzz.dat", 0) == 0, "diagnostic does not start with the file name",
          e.message);
  }
  return 0;
}
