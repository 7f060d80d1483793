#include "engine/listed_source.h"

#include <cstdint>
#include <memory>
#include <new>

#include "engine/errors.h"
#include "engine/scale_heights.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {

void CheckPlainName(const std::u16string& entry) {
  const auto separator = entry.find_first_of(u"\\/");
  if (separator != std::u16string::npos) {
    throw FileError("\"" + Utf16ToUtf8(entry.substr(separator, 1)) +
                    "\" in the name reads as a folder separator");
  }
  // Windows leaves a dot or a space at the end of a name out of every path
  // it is given, so Explorer and the game could neither open nor delete an
  // output named so. Refused on every system: the outputs are for Windows.
  if (!entry.empty() && (entry.back() == u'.' || entry.back() == u' ')) {
    throw FileError("the name ends in \"" + Utf16ToUtf8(entry.substr(entry.size() - 1)) +
                    "\", which Windows leaves out of paths");
  }
}

void LoadImage(InputFile& input, WordImage& image) {
  const std::uint64_t length = input.Length();
  if (length < 4) {
    throw SubscriptError("the file holds " + std::to_string(length) +
                         (length == 1 ? " byte" : " bytes") + ", no whole word");
  }
  // An image the pass cannot index fails there whatever it holds; refusing it
  // here spares reading a file of any size into memory.
  try {
    CheckImageFits(static_cast<std::int64_t>(length / 4));
  } catch (const OverflowError&) {
    throw OverflowError("the file holds " + std::to_string(length) + " bytes");
  }
  image.Resize(static_cast<std::size_t>(length));
  input.Read(image.MutableBytes());
}

std::int64_t CountListedFiles(FileSystem& files, std::u16string_view source) {
  std::int64_t listed = 0;
  try {
    const std::unique_ptr<Folder> folder = files.OpenFolder(source);
    const std::unique_ptr<FolderListing> listing = folder->ListNormalFiles();
    for (std::u16string entry = listing->Next(); !entry.empty() && entry != u"." && entry != u"..";
         entry = listing->Next()) {
      ++listed;
    }
  } catch (const Error&) {
    // The run's own listing meets the failure too, and says what it is.
  } catch (const std::bad_alloc&) {
    // As does memory running out, should it still be short then.
  }
  return listed;
}

}  // namespace vendrake::engine
