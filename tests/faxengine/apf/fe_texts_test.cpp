// Status and error texts, the exception classes, and the fax history log.
#include "fe_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "fe_errors.h"
#include "fe_exceptions.h"
#include "fe_faxlog.h"
#include "fe_status.h"
#include "test_pages.h"

namespace fe {
namespace {

TEST(ApfTexts, StatusTextsOnlyForTheirCodes) {
  EXPECT_EQ(StatusText(1), "Initializing modem for fax processing");
  EXPECT_EQ(StatusText(fsBusyWaitRedial), "Busy, waiting until redial...");
  EXPECT_EQ(StatusText(28), "Got Class 2 FHNG code");
  EXPECT_EQ(StatusText(43), "Finished");
  for (int code : {0, 9, 19, 29, 39, 44, 100, -1}) EXPECT_EQ(StatusText(code), "") << code;
  for (int code = 1; code <= 43; ++code) EXPECT_LE(StatusText(code).size(), 80u);
}

TEST(ApfTexts, ErrorTextsByAbsoluteValueWithSystemFallback) {
  EXPECT_EQ(ErrorText(0), "OK");
  EXPECT_EQ(ErrorText(-8001), "File is not an APF file");
  EXPECT_EQ(ErrorText(8001), "File is not an APF file");
  EXPECT_EQ(ErrorText(-160), "Device write error");
  EXPECT_EQ(ErrorText(-2011), "The ComNumber property of the TFeComPort has not been set");
  EXPECT_EQ(ErrorText(-8054), "BMP size exceeds Windows' maxheight of 32767");
  // A number the table lacks gets the operating system's text for it.
  EXPECT_FALSE(HasErrorText(ENODATA));
  EXPECT_EQ(ErrorText(-ENODATA), std::strerror(ENODATA));
  EXPECT_FALSE(ErrorText(-99999).empty());
  EXPECT_FALSE(ErrorText(INT32_MIN).empty());
  // System errors become file error codes with texts of their own.
  EXPECT_EQ(IoErrorCode(ENOENT), ecFileNotFound);
  EXPECT_EQ(IoErrorCode(EACCES), ecAccessDenied);
  EXPECT_EQ(IoErrorCode(ENOSPC), ecDiskFull);
  EXPECT_EQ(IoErrorCode(ENODATA), ENODATA);
  EXPECT_TRUE(HasErrorText(IoErrorCode(EBUSY)));     // 16 would read "Cannot remove current directory"
  EXPECT_TRUE(HasErrorText(IoErrorCode(ENETDOWN)));  // 100 would read "Attempt to read beyond end of file"
  EXPECT_EQ(IoErrorCode(ENETDOWN), ecHardwareFailure);
}

template <class E>
void ExpectRaises(int code) {
  try {
    RaiseFeError(code);
    ADD_FAILURE() << code << " raised nothing";
  } catch (const E& e) {
    EXPECT_EQ(e.ErrorCode(), code < 0 ? code : -code);
    EXPECT_EQ(std::string(e.what()), ErrorText(code));
  } catch (...) {
    ADD_FAILURE() << code << " raised the wrong class";
  }
}

TEST(ApfTexts, ExceptionsCarryTheNegativeCodeAndTheirClass) {
  ExpectRaises<EFaxBadFormat>(-8001);
  ExpectRaises<EFax>(-8004);
  ExpectRaises<EUnpackAbort>(-8004);
  ExpectRaises<EBadId>(-2001);
  ExpectRaises<EOpenComm>(-2005);
  ExpectRaises<ECommNotOpen>(-2007);
  ExpectRaises<EAlreadyOpen>(-2008);
  ExpectRaises<EProtocol>(-6006);
  ExpectRaises<EFaxPageError>(-8070);
  ExpectRaises<ETapi>(-8070);
  ExpectRaises<EBadArgument>(1002);  // a positive code is carried negated
  ExpectRaises<EInOutError>(-2);
  ExpectRaises<EInOutError>(-160);
  EXPECT_THROW(RaiseFeError(-8), std::bad_alloc);
  // Codes without a class of their own raise the base class itself.
  for (int code : {-6005, -8074, -6010, -12345}) {
    try {
      RaiseFeError(code);
    } catch (const EFax&) {
      ADD_FAILURE() << code;
    } catch (const EFeException& e) {
      EXPECT_EQ(e.ErrorCode(), code);
    }
  }
  EXPECT_EQ(CheckFe(0), 0);
  EXPECT_EQ(CheckFe(7), 7);
  EXPECT_THROW(CheckFe(-2008), EAlreadyOpen);
}

TEST(ApfFaxLog, HistoryLinesAsTabled) {
  testing::TempDir dir;
  TFeFaxLog log;
  log.FaxHistoryName = dir.file("FAXHIST.HIS");
  std::time_t when = 1796630400;  // a fixed moment
  const std::string at = FormatDateTime(when);
  ASSERT_FALSE(at.empty());
  TFaxLogInfo fax;
  fax.faxFiles = {"SEND/C00001.APF", "SEND/F00001.APF"};
  fax.faxFile = "Receive/R00001.APF";
  fax.phoneNumber = "555-0100";
  fax.remoteId = "REMOTE FAX";
  fax.hangupCode = "2";
  fax.lastError = -8069;
  for (int code = lfTransmitStarted; code <= lfReceiveFailed; ++code) ASSERT_EQ(log.LogFax(code, fax, when), 0);
  ASSERT_EQ(log.LogFax(99, fax, when), 0);  // an unknown code adds nothing
  std::vector<std::uint8_t> b = testing::ReadBytes(log.FaxHistoryName);
  std::string text(b.begin(), b.end());
  std::string expected = "Transmit SEND/C00001.APF to 555-0100 started at " + at + "\r\n" +
                         "Transmit SEND/F00001.APF to 555-0100 started at " + at + "\r\n" +
                         "Transmit to REMOTE FAX finished OK at " + at + " 2\r\n\r\n" + "Transmit failed at " + at +
                         "\r\n  (Fax failed in mid-session) 2\r\n\r\n" +
                         "Receive Receive/R00001.APF from REMOTE FAX started at " + at + "\r\n" +
                         "Receive finished OK at " + at + "\r\n\r\n" + "Receive skipped at " + at + "\r\n\r\n" +
                         "Receive failed at " + at + "\r\n  (Fax failed in mid-session)\r\n\r\n";
  EXPECT_EQ(text, expected);
  // A fax kept with damaged pages is not "finished OK".
  fax.damage = "page 2: 34 bad lines";
  EXPECT_EQ(TFeFaxLog::Lines(lfReceiveFinished, fax, when),
            "Receive finished with damaged pages at " + at + "\r\n  (page 2: 34 bad lines)\r\n\r\n");

  TFeFaxLog off;
  off.FaxHistoryName = "";
  EXPECT_EQ(off.LogFax(lfTransmitFailed, fax, when), 0);
  TFeFaxLog bad;
  bad.FaxHistoryName = dir.file("no/such/folder/H.HIS");
  EXPECT_EQ(bad.LogFax(lfReceiveStarted, fax, when), -ecFileNotFound);
}

}  // namespace
}  // namespace fe
