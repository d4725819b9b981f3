// Fax status codes (reported while a fax session runs) and fax log codes (reported
// when a transmission or reception starts, ends or fails). Texts: fe_texts.h.
#pragma once

namespace fe {

enum FaxStatus : int {
  fsInitializing = 1,
  fsDialing = 2,
  fsBusyWaitRedial = 3,
  fsSendingPage = 4,
  fsSendingEOP = 5,
  fsPageError = 6,
  fsPageAccepted = 7,
  fsConnecting = 8,
  fsWaitingForCall = 20,
  fsNoConnect = 21,
  fsAnswering = 22,
  fsCallValidated = 23,
  fsGettingPage = 24,
  fsGettingEOP = 25,
  fsGettingEndOfDocument = 26,
  fsGettingHangup = 27,
  fsGotFHNG = 28,
  fsGettingParams = 40,
  fsGotRemoteId = 41,
  fsUserAbort = 42,
  fsFinished = 43,
};

enum FaxLogCode : int {
  lfTransmitStarted = 1,
  lfTransmitFinished = 2,
  lfTransmitFailed = 3,
  lfReceiveStarted = 4,
  lfReceiveFinished = 5,
  lfReceiveSkipped = 6,
  lfReceiveFailed = 7,
};

}  // namespace fe
