// The pages of one outgoing fax and the byte stream of each page as it goes to
// the modem: header block, then the page's coded lines (length words dropped,
// short lines padded to the minimum line length), with DLE doubled.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apf_reader.h"
#include "fe_text_reader.h"

namespace fe {

struct TSendPage {
  enum Kind { kApfPage, kTextCover } kind = kApfPage;
  std::string file;      // APF file (cover or fax file) or the text cover file
  unsigned filePage = 1;  // page within an APF file
  bool fine = false;
  bool wide = false;
  int number = 0;  // 0 for the cover page, else the fax file's page number
};

// Lists the pages of a fax: the cover (an APF page when its name holds "." + ext,
// else a text file) then every page of the fax file. Either may be empty, not
// both. Returns 0 or a negative error code (8001 for a bad APF file, 6010 when
// there is nothing to send).
int ListFaxPages(const std::string& faxFile, const std::string& coverFile, const std::string& ext,
                 std::vector<TSendPage>& pages);

// The page number the header line shows for pages[idx]: the cover is page 1 and
// the fax file's pages follow it.
int HeaderPageNumber(const std::vector<TSendPage>& pages, size_t idx);

// True when the cover file name contains "." + ext (letter case ignored).
bool CoverIsApf(const std::string& coverFile, const std::string& ext);

class TPageStream {
 public:
  // Prepares a page: header (may be empty: then no header block), minimum line
  // length in bytes, optional enhanced renderers for the header and text covers.
  int Open(const TSendPage& page, const std::string& headerText, int minLine, TextLineRenderer* enhHeader,
           TextLineRenderer* enhText);
  // The next block for the modem (DLE doubled): 1 with a block, 0 at the page end,
  // or a negative error code.
  int Next(std::vector<uint8_t>& block);
  long Length() const { return length_; }  // bytes of page data
  long Done() const { return done_; }      // bytes of it handed out

 private:
  int NextApf(std::vector<uint8_t>& plain);
  int NextText(std::vector<uint8_t>& plain);

  TSendPage page_;
  int minLine_ = 0;
  std::vector<uint8_t> header_;
  bool headerSent_ = false;
  std::vector<uint8_t> data_;
  size_t pos_ = 0;
  bool records_ = false;
  long length_ = 0;
  long done_ = 0;
  // text cover
  std::vector<std::u32string> textLines_;
  size_t textLine_ = 0;
  bool rtcSent_ = false;
  TextLineRenderer* textRenderer_ = nullptr;
  std::unique_ptr<TextLineRenderer> ownRenderer_;
};

}  // namespace fe
