// Error codes of the fax engine. Every engine operation returns 0 for success or
// the negative of one of these codes; texts are looked up by the absolute value
// (ErrorText in fe_texts.h). One numeric space: file errors 2-162, engine errors
// from 1001, port errors from 2001, fax errors from 8001.
#pragma once

namespace fe {

enum ErrorCode : int {
  ecOK = 0,
  // file and device errors (the run-time library's numbers)
  ecFileNotFound = 2,
  ecPathNotFound = 3,
  ecTooManyOpenFiles = 4,
  ecAccessDenied = 5,
  ecOutOfMemory = 8,
  ecReadBeyondEOF = 100,
  ecDiskFull = 101,
  ecFileNotAssigned = 102,
  ecFileNotOpen = 103,
  ecFileNotOpenForInput = 104,
  ecFileNotOpenForOutput = 105,
  ecDeviceWriteError = 160,
  ecHardwareFailure = 162,
  // general
  ecBadArgument = 1002,
  ecGotQuitMsg = 1003,
  ecPortNotAssigned = 1005,
  // opening the port
  ecBadId = 2001,
  ecHardware = 2005,
  ecNotOpen = 2007,
  ecAlreadyOpen = 2008,
  ecNoPortSelected = 2011,
  // serial input and output
  ecBufferIsEmpty = 3001,
  ecPutBlockFail = 3004,
  ecGetBlockFail = 3005,
  ecOutputBufferTooSmall = 3006,
  ecTracingNotEnabled = 3008,
  ecLoggingNotEnabled = 3009,
  // triggers
  ecNoMoreTriggers = 5001,
  ecTriggerTooLong = 5002,
  ecBadTriggerHandle = 5003,
  // protocol
  ecCancelRequested = 6005,
  ecTimeout = 6006,
  ecNoFilename = 6010,
  ecFileRejected = 6011,
  // fax
  ecFaxBadFormat = 8001,
  ecBadGraphicsFormat = 8002,
  ecConvertAbort = 8003,
  ecUnpackAbort = 8004,
  ecCantMakeBitmap = 8005,
  ecNoImageLoaded = 8050,
  ecNoImageBlockMarked = 8051,
  ecFontFileNotFound = 8052,
  ecInvalidPageNumber = 8053,
  ecBadMaxHeight = 8054,
  ecFontTooLarge = 8055,
  ecFaxBadMachine = 8060,
  ecFaxBadModemResult = 8061,
  ecFaxTrainError = 8062,
  ecFaxInitError = 8063,
  ecFaxBusy = 8064,
  ecFaxVoiceCall = 8065,
  ecFaxDataCall = 8066,
  ecFaxNoDialTone = 8067,
  ecFaxNoCarrier = 8068,
  ecFaxSessionError = 8069,
  ecFaxPageError = 8070,
  ecFaxNoAnswer = 8074,
};

}  // namespace fe
