// Fuzzes the reader of MCAP recordings, CMcapRecordSource, with whatever a
// file may hold: an input is a whole file. It must be refused, played, or
// stopped with a reason, never read out of bounds; every record it gives is
// one of a whole batch, and a file that ended early is said to be cut.

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "Diagnostics.h"
#include "FuzzSupport.h"
#include "McapRecordSource.h"

namespace {

// The reader's line about a cut file, a million times over, goes nowhere.
class CNoWriter : public IDiagWriter {
 public:
  void Write(EDiagStream, std::string_view) override {}
  void Flush(EDiagStream) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CNoWriter silence;
  static IDiagWriter* const previous = SetDiagWriter(&silence);
  (void)previous;
  const int fd = ::memfd_create("mcap", MFD_CLOEXEC);
  fuzz::Require(fd >= 0, "memfd_create");
  for (size_t done = 0; done < size;) {
    const ssize_t wrote = ::write(fd, data + done, size - done);
    fuzz::Require(wrote > 0, "write");
    done += static_cast<size_t>(wrote);
  }
  skarvmcap::CMcapRecordSource source("/proc/self/fd/" + std::to_string(fd));
  if (source.Open()) {
    kiv::T_RawRecord record;
    recording::CRecordSource::EResult result = recording::CRecordSource::EResult::eRecord;
    size_t records = 0;
    while ((result = source.Next(record)) == recording::CRecordSource::EResult::eRecord) {
      ++records;
      // A record is 36 bytes of a batch, and a file of `size` bytes holds fewer.
      fuzz::Require(records * 36 <= size, "more records than the file can hold");
    }
    fuzz::Require(result == recording::CRecordSource::EResult::eEnd || !source.Error().empty(),
                  "an error without a reason");
    fuzz::Require(source.Next(record) == result, "the end not kept");
  } else {
    fuzz::Require(!source.Error().empty(), "refused without a reason");
  }
  ::close(fd);
  return 0;
}
