// Output files: every write and close is checked, so that a full disk or a
// vanished folder ends the run with a message instead of a silently cut file.
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "textio/textio.h"

namespace pedseg {

namespace {

[[noreturn]] void write_failed(const OutputFile& out, const char* what, int err) {
  std::string message = out.name + ": " + what;
  if (err != 0) message += std::string(" (") + std::strerror(err) + ")";
  throw WriteError{message};
}

// Closes an owned stream without a check (see the destructor).
void abandon(OutputFile& out) {
  if (out.fp != nullptr && out.owns) std::fclose(out.fp);
  out.fp = nullptr;
  out.owns = false;
}

}  // namespace

OutputFile::~OutputFile() { abandon(*this); }

OutputFile::OutputFile(OutputFile&& other) noexcept
    : name(std::move(other.name)), fp(other.fp), owns(other.owns), memory(other.memory) {
  other.fp = nullptr;
  other.owns = false;
  other.memory = nullptr;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    abandon(*this);
    name = std::move(other.name);
    fp = other.fp;
    owns = other.owns;
    memory = other.memory;
    other.fp = nullptr;
    other.owns = false;
    other.memory = nullptr;
  }
  return *this;
}

void open_output(OutputFile& out, const std::string& name) {
  // "w" creates the file or empties an existing one: no line of an earlier
  // run survives in it.
  errno = 0;
  FILE* fp = std::fopen(name.c_str(), "w");
  if (fp == nullptr) {
    OutputFile failed;
    failed.name = name;
    write_failed(failed, "the file cannot be created or opened for writing", errno);
  }
  abandon(out);
  out.name = name;
  out.fp = fp;
  out.owns = true;
  out.memory = nullptr;
}

OutputFile output_stream(FILE* fp, const std::string& name) {
  OutputFile out;
  out.name = name;
  out.fp = fp;
  out.owns = false;
  return out;
}

OutputFile output_memory(std::string& buffer, const std::string& name) {
  OutputFile out;
  out.name = name;
  out.memory = &buffer;
  return out;
}

void write_text(OutputFile& out, std::string_view text) {
  if (out.memory != nullptr) {
    out.memory->append(text);
    return;
  }
  if (out.fp == nullptr) write_failed(out, "writing to a file that is not open", 0);
  if (text.empty()) return;
  errno = 0;
  size_t written = std::fwrite(text.data(), 1, text.size(), out.fp);
  if (written != text.size() || std::ferror(out.fp)) {
    write_failed(out, "the file could not be written", errno);
  }
}

void close_output(OutputFile& out) {
  if (out.memory != nullptr) {
    out.memory = nullptr;
    return;
  }
  if (out.fp == nullptr) return;
  FILE* fp = out.fp;
  const bool owns = out.owns;
  out.fp = nullptr;
  out.owns = false;

  errno = 0;
  bool ok = std::fflush(fp) == 0 && !std::ferror(fp);
  int err = errno;
  if (owns) {
    errno = 0;
    if (std::fclose(fp) != 0) {
      if (ok) err = errno;
      ok = false;
    }
  }
  if (!ok) write_failed(out, "the file could not be written completely", err);
}

bool is_open(const OutputFile& out) { return out.fp != nullptr || out.memory != nullptr; }

int run_with_exit_status(const char* program, FILE* out, FILE* err,
                         const std::function<void()>& work) {
  try {
    work();
    std::fflush(out);
    if (std::ferror(out)) throw WriteError{"cannot write to standard output"};
    return 0;
  } catch (const InputError& e) {
    std::fflush(out);
    std::fprintf(err, "%s: input error: %s\n", program, e.message.c_str());
    return EXIT_INPUT_ERROR;
  } catch (const SizeStop& e) {
    std::fflush(out);
    std::fprintf(err, "STOP %s\n", e.message.c_str());
    return EXIT_SIZE_STOP;
  } catch (const WriteError& e) {
    std::fflush(out);
    std::fprintf(err, "%s: write error: %s\n", program, e.message.c_str());
    return EXIT_WRITE_ERROR;
  } catch (const std::bad_alloc&) {
    std::fflush(out);
    std::fprintf(err, "%s: out of memory\n", program);
    return EXIT_INTERNAL_ERROR;
  } catch (const std::exception& e) {
    std::fflush(out);
    std::fprintf(err, "%s: internal error: %s\n", program, e.what());
    return EXIT_INTERNAL_ERROR;
  }
}

}  // namespace pedseg
