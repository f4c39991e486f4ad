// Reading iway.dat and the trait file, and the family weights.
#include "pedigree/pedigree.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "params/params.h"

namespace pedseg {

namespace {

// Reads `count` integers into table[first], table[first+1], ...  A count of
// 0 or less reads nothing.  The caller has checked that the entries exist.
void read_ints(RecordReader& rec, int32_t* table, int64_t first, int64_t count) {
  for (int64_t k = 0; k < count; ++k) {
    if (rec.ended) break;  // a slash: the remaining entries keep their values
    read_int(rec, table[first + k]);
  }
}

// Reads a count that starts a record and stops the run when it is beyond
// `limit`, before anything else of the record is stored.
void read_count(RecordReader& rec, int32_t& count, int32_t limit, const char* stop) {
  read_int(rec, count);
  if (count > limit) throw SizeStop{stop};
}

}  // namespace

void read_structure(InputFile& iway, PedigreeTables& ped) {
  static const char* const kFamStop = "N_FAM exceed. Correct and recompile";
  static const char* const kWayStop = "N_WAY exceed. Correct and recompile";
  static const char* const kSizeStop = "N_SIZE exceed. Correct and recompile";

  // Record 1: NFAM, then PED_START(0) to PED_START(NFAM+1).  The item counts
  // are worked out in 64 bits, so that no count near the ends of the 32-bit
  // range can wrap round into a large positive one.
  {
    RecordReader rec = begin_record(iway, "record 1");
    read_count(rec, ped.NFAM, N_FAM, kFamStop);
    ped.NFAM_READ = ped.NFAM;
    read_ints(rec, ped.PED_START, 0, int64_t{ped.NFAM} + 2);
    end_record(rec);
  }
  // Record 2: PED_NUC(0) to PED_NUC(NFAM+1); no count of its own.
  {
    RecordReader rec = begin_record(iway, "record 2");
    read_ints(rec, ped.PED_NUC, 0, int64_t{ped.NFAM_READ} + 2);
    end_record(rec);
  }
  // Record 3: NSTART, then NUC_START(0) to NUC_START(NSTART-1).
  {
    RecordReader rec = begin_record(iway, "record 3");
    read_count(rec, ped.NSTART, N_WAY, kWayStop);
    read_ints(rec, ped.NUC_START, 0, ped.NSTART);
    end_record(rec);
  }
  // Record 4: NMEMBER, then the member lists from position 0.
  {
    RecordReader rec = begin_record(iway, "record 4");
    read_count(rec, ped.NMEMBER, N_WAY, kWayStop);
    read_ints(rec, ped.NUC_MEMBERS, 0, ped.NMEMBER);
    end_record(rec);
  }
  // Record 5: NUC_PIVOT(1) to NUC_PIVOT(NSTART-2); no count of its own.
  {
    RecordReader rec = begin_record(iway, "record 5");
    read_ints(rec, ped.NUC_PIVOT, 1, int64_t{ped.NSTART} - 2);
    end_record(rec);
  }
  // Record 6: NIND, then IND_CODE(1) to IND_CODE(NIND).
  {
    RecordReader rec = begin_record(iway, "record 6");
    read_count(rec, ped.NIND, N_SIZE, kSizeStop);
    read_ints(rec, ped.IND_CODE, 1, ped.NIND);
    end_record(rec);
  }
}

void read_traits(InputFile& traits, PedigreeTables& ped) {
  // NIND is at most N_SIZE here (the structure reader stops beyond it); the
  // clamp keeps tables built by hand inside TRAIT as well.
  const int64_t n = std::min<int64_t>(ped.NIND, N_SIZE);
  RecordReader rec = begin_record(traits, "record 1");
  for (int64_t i = 1; i <= n; ++i) {
    if (rec.ended) break;
    read_real(rec, ped.TRAIT[i]);
  }
  end_record(rec);
}

void READ_PEDIGREE(const char (&TRAIT_FILE_NAME)[16], PedigreeTables& ped, OutputFile& console,
                   std::string_view dir) {
  {
    InputFile iway = open_input(path_in(dir, "iway.dat"));
    read_structure(iway, ped);
  }
  write_free(console, {fmt_int(ped.NIND)});
  {
    InputFile traits = open_input(path_in(dir, trait_file_name(TRAIT_FILE_NAME)));
    read_traits(traits, ped);
  }
  derive_weights(ped);
}

}  // namespace pedseg
