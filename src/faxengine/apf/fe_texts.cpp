// The engine's two text tables: fax status texts and error texts.
#include "fe_texts.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "fe_errors.h"

namespace fe {

namespace {

struct CodeText {
  int code;
  const char* text;
};

constexpr CodeText kStatusTexts[] = {
    {1, "Initializing modem for fax processing"},
    {2, "Dialing"},
    {3, "Busy, waiting until redial..."},
    {4, "Sending page data"},
    {5, "Sending EOP"},
    {6, "Error sending page"},
    {7, "Page accepted by remote"},
    {8, "Connecting..."},
    {20, "Waiting for incoming call"},
    {21, "No connect on this call"},
    {22, "Answering incoming call"},
    {23, "Incoming call validated as fax"},
    {24, "Getting page data"},
    {25, "Getting end-of-page signal"},
    {26, "Getting end-of-document status"},
    {27, "Getting hangup command"},
    {28, "Got Class 2 FHNG code"},
    {40, "Getting connection params"},
    {41, "Got called-station ID"},
    {42, "User abort"},
    {43, "Finished"},
};

// Sorted by code: looked up by binary search.
constexpr CodeText kErrorTexts[] = {
    {0, "OK"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Insufficient memory"},
    {12, "Invalid file access code"},
    {15, "Invalid drive number"},
    {16, "Cannot remove current directory"},
    {17, "Cannot rename across drives"},
    {18, "No more files"},
    {100, "Attempt to read beyond end of file"},
    {101, "Disk is full"},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {150, "Disk is write-protected"},
    {151, "Unknown unit"},
    {152, "Drive not ready"},
    {153, "Unknown command"},
    {154, "CRC error in data"},
    {155, "Bad drive request structure length"},
    {156, "Disk seek error"},
    {157, "Unknown media type"},
    {158, "Sector not found"},
    {159, "Printer out of paper"},
    {160, "Device write error"},
    {161, "Device read error"},
    {162, "Hardware failure"},
    {1001, "Not enough memory for a copy"},
    {1002, "Bad argument passed to function"},
    {1003, "Got quit message"},
    {1004, "Buffer size too big"},
    {1005, "ComPort component not assigned"},
    {1006, "Internal error"},
    {1007, "Modem component not assigned"},
    {1008, "Phonebook component not assigned"},
    {1009, "Cannot use this operation with a network socket"},
    {2001, "ie_BadId - Specified comport doesn't exist"},
    {2002, "ie_Baudrate - Unsupported baud rate"},
    {2003, "ie_ByteSize - Invalid byte size"},
    {2004, "ie_Default - Error in default parameters"},
    {2005, "ie_Hardware - Specified comport in use"},
    {2006, "ie_Memory - Unable to allocate queues"},
    {2007, "ie_NOpen - device not open"},
    {2008, "ie_Open - device already open"},
    {2009, "No more file handles"},
    {2010, "No more timers"},
    {2011, "The ComNumber property of the TFeComPort has not been set"},
    {2012, "Port was not opened by the telephony interface"},
    {3001, "Serial function not available"},
    {3002, "Failed to register the event handler"},
    {3004, "Failed to write a block to the port"},
    {3005, "Failed to read a block from the port"},
    {3006, "Output buffer too small for the block"},
    {3007, "Buffer is empty"},
    {3008, "Tracing is not enabled"},
    {3009, "Logging is not enabled"},
    {3010, "Base address not set"},
    {4001, "Modem not started"},
    {4002, "Modem is busy"},
    {4003, "Modem is not dialing"},
    {4004, "Not dialing"},
    {4005, "Already dialing"},
    {4006, "Modem not responding"},
    {4007, "Modem rejected the command"},
    {4008, "Modem status mismatch"},
    {5001, "No more triggers available"},
    {5002, "Trigger data too long"},
    {5003, "Bad trigger handle"},
    {6001, "Invalid protocol"},
    {6002, "Protocol error"},
    {6005, "Cancel requested"},
    {6006, "Fatal time out"},
    {6007, "Too many errors"},
    {6008, "Protocol sequence error"},
    {6010, "No filename specified in protocol receive"},
    {6011, "File was rejected"},
    {7001, "Key too long"},
    {7002, "Data too large"},
    {7003, "No fields defined"},
    {7004, "Error writing the INI file"},
    {7005, "Error reading the INI file"},
    {7006, "No index key"},
    {7007, "Record already exists"},
    {7008, "Record not found"},
    {7009, "An index value is required"},
    {7010, "Database is full"},
    {7011, "Database is empty"},
    {7012, "Database not prepared"},
    {7013, "Bad field list"},
    {7014, "Bad field for index"},
    {8001, "File is not an APF file"},
    {8002, "Unsupported graphics file format"},
    {8003, "User aborted fax conversion"},
    {8004, "User aborted fax unpack"},
    {8005, "CreateBitmapIndirect API failure"},
    {8050, "No image loaded into viewer"},
    {8051, "No block of image marked"},
    {8052, "FAXFONT.FNT not found, or resource bad"},
    {8053, "Invalid page number specified for fax"},
    {8054, "BMP size exceeds Windows' maxheight of 32767"},
    {8055, "Font selected for enhanced text converter too large"},
    {8060, "Fax incompatible with remote fax"},
    {8061, "Bad response from modem"},
    {8062, "Modems failed to train"},
    {8063, "Error while initializing modem"},
    {8064, "Called fax number was busy"},
    {8065, "Called fax number answered with voice"},
    {8066, "Incoming data call"},
    {8067, "No dial tone"},
    {8068, "Failed to connect to remote fax"},
    {8069, "Fax failed in mid-session"},
    {8070, "Fax failed at page end"},
    {8071, "Remote fax did not confirm the page"},
    {8072, "No fax file to send"},
    {8073, "Fax file not found"},
    {8074, "Remote fax did not answer"},
};

const char* Find(const CodeText* first, const CodeText* last, int code) {
  auto it = std::lower_bound(first, last, code, [](const CodeText& e, int c) { return e.code < c; });
  return (it != last && it->code == code) ? it->text : nullptr;
}

}  // namespace

bool HasErrorText(int code) {
  return code != INT_MIN && Find(std::begin(kErrorTexts), std::end(kErrorTexts), std::abs(code)) != nullptr;
}

std::string ErrorText(int code) {
  if (code == INT_MIN) return std::strerror(code);  // has no positive counterpart
  int c = code < 0 ? -code : code;
  if (const char* t = Find(std::begin(kErrorTexts), std::end(kErrorTexts), c)) return t;
  return std::strerror(c);
}

std::string FormatError(int code) {
  return "error " + std::to_string(code) + ": " + ErrorText(code);
}

std::string StatusText(int code) {
  const char* t = Find(std::begin(kStatusTexts), std::end(kStatusTexts), code);
  return t ? t : "";
}

int IoErrorCode(int err) {
  switch (err) {
    case 0:
      return ecOK;
    case ENOENT:
      return ecFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return ecPathNotFound;
    case EMFILE:
    case ENFILE:
      return ecTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
    case EEXIST:
      return ecAccessDenied;
    case EROFS:
      return ecWriteProtected;
    case EBADF:
      return ecInvalidHandle;
    case ENOMEM:
      return ecOutOfMemory;
    case EXDEV:
      return ecCannotRenameAcrossDrives;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ecDiskFull;
    case ESPIPE:
      return ecSeekError;
    case EIO:
      return ecHardwareFailure;
    default:
      break;
  }
  // Other numbers keep their value when the table has no text of its own for it,
  // so ErrorText shows the system's message; a clash with a table entry would show
  // a wrong text, so those become a general hardware failure.
  return HasErrorText(err) ? ecHardwareFailure : err;
}

}  // namespace fe
