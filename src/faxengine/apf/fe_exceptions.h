// The exception classes the fax components raise when an engine operation fails.
// Every class descends from EFeException, which carries the error code as the
// engine returned it (negative) and the code's error text as its message.
#pragma once

#include <exception>
#include <string>

namespace fe {

class EFeException : public std::exception {
 public:
  // code: the engine's result (negative); a positive code is stored negated.
  explicit EFeException(int code);
  EFeException(int code, std::string message);

  int ErrorCode() const noexcept { return code_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  int code_;
  std::string message_;
};

#define FE_EXCEPTION_CLASS(Name, Base) \
  class Name : public Base {           \
   public:                             \
    using Base::Base;                  \
  }

// File and device errors (codes 2 to 162, except 8, which raises std::bad_alloc).
FE_EXCEPTION_CLASS(EInOutError, EFeException);

FE_EXCEPTION_CLASS(EGeneral, EFeException);
FE_EXCEPTION_CLASS(EBadArgument, EGeneral);
FE_EXCEPTION_CLASS(EBufferTooBig, EGeneral);
FE_EXCEPTION_CLASS(EGotQuitMsg, EGeneral);
FE_EXCEPTION_CLASS(EInternal, EGeneral);
FE_EXCEPTION_CLASS(EModemNotAssigned, EGeneral);
FE_EXCEPTION_CLASS(EPhonebookNotAssigned, EGeneral);
FE_EXCEPTION_CLASS(EPortNotAssigned, EGeneral);
FE_EXCEPTION_CLASS(ETapi, EGeneral);
FE_EXCEPTION_CLASS(EFaxPageError, ETapi);

FE_EXCEPTION_CLASS(EOpenComm, EFeException);
FE_EXCEPTION_CLASS(EAlreadyOpen, EOpenComm);
FE_EXCEPTION_CLASS(EBadId, EOpenComm);
FE_EXCEPTION_CLASS(EBaudRate, EOpenComm);
FE_EXCEPTION_CLASS(EByteSize, EOpenComm);
FE_EXCEPTION_CLASS(ECannotUseWithWinSock, EOpenComm);
FE_EXCEPTION_CLASS(ECommNotOpen, EOpenComm);
FE_EXCEPTION_CLASS(EDefault, EOpenComm);
FE_EXCEPTION_CLASS(EHardware, EOpenComm);
FE_EXCEPTION_CLASS(EMemory, EOpenComm);
FE_EXCEPTION_CLASS(ENoHandles, EOpenComm);
FE_EXCEPTION_CLASS(ENoPortSelected, EOpenComm);
FE_EXCEPTION_CLASS(ENoTimers, EOpenComm);

FE_EXCEPTION_CLASS(ESerialIO, EFeException);
FE_EXCEPTION_CLASS(EBufferIsEmpty, ESerialIO);
FE_EXCEPTION_CLASS(EGetBlockFail, ESerialIO);
FE_EXCEPTION_CLASS(ELoggingNotEnabled, ESerialIO);
FE_EXCEPTION_CLASS(ENotOpenedByTapi, ESerialIO);
FE_EXCEPTION_CLASS(ENullApi, ESerialIO);
FE_EXCEPTION_CLASS(EOutputBufferTooSmall, ESerialIO);
FE_EXCEPTION_CLASS(EPutBlockFail, ESerialIO);
FE_EXCEPTION_CLASS(ERegisterHandlerFailed, ESerialIO);
FE_EXCEPTION_CLASS(ETracingNotEnabled, ESerialIO);

FE_EXCEPTION_CLASS(EModem, EFeException);
FE_EXCEPTION_CLASS(EAlreadyDialing, EModem);
FE_EXCEPTION_CLASS(EBaseAddressNotSet, EModem);
FE_EXCEPTION_CLASS(EModemBusy, EModem);
FE_EXCEPTION_CLASS(EModemNotDialing, EModem);
FE_EXCEPTION_CLASS(EModemNotResponding, EModem);
FE_EXCEPTION_CLASS(EModemNotStarted, EModem);
FE_EXCEPTION_CLASS(EModemRejectedCommand, EModem);
FE_EXCEPTION_CLASS(EModemStatusMismatch, EModem);

FE_EXCEPTION_CLASS(ETrigger, EFeException);
FE_EXCEPTION_CLASS(ENotDialing, ETrigger);
FE_EXCEPTION_CLASS(ETriggerTooLong, ETrigger);

FE_EXCEPTION_CLASS(EINI, EFeException);
FE_EXCEPTION_CLASS(EBadFieldList, EINI);
FE_EXCEPTION_CLASS(EBadTriggerHandle, EINI);
FE_EXCEPTION_CLASS(EDataTooLarge, EINI);
FE_EXCEPTION_CLASS(EDatabaseEmpty, EINI);
FE_EXCEPTION_CLASS(EDatabaseFull, EINI);
FE_EXCEPTION_CLASS(EIniRead, EINI);
FE_EXCEPTION_CLASS(EIniWrite, EINI);
FE_EXCEPTION_CLASS(EKeyTooLong, EINI);
FE_EXCEPTION_CLASS(ERecordExists, EINI);
FE_EXCEPTION_CLASS(ERecordNotFound, EINI);

FE_EXCEPTION_CLASS(EProtocol, EFeException);

FE_EXCEPTION_CLASS(EFax, EFeException);
FE_EXCEPTION_CLASS(EBadFieldForIndex, EFax);
FE_EXCEPTION_CLASS(EBadGraphicsFormat, EFax);
FE_EXCEPTION_CLASS(ECantMakeBitmap, EFax);
FE_EXCEPTION_CLASS(EConvertAbort, EFax);
FE_EXCEPTION_CLASS(EFaxBadFormat, EFax);
FE_EXCEPTION_CLASS(EFaxBadMachine, EFax);
FE_EXCEPTION_CLASS(EFaxBadModemResult, EFax);
FE_EXCEPTION_CLASS(EFaxBusy, EFax);
FE_EXCEPTION_CLASS(EFaxDataCall, EFax);
FE_EXCEPTION_CLASS(EFaxInitError, EFax);
FE_EXCEPTION_CLASS(EFaxNoCarrier, EFax);
FE_EXCEPTION_CLASS(EFaxNoDialTone, EFax);
FE_EXCEPTION_CLASS(EFaxSessionError, EFax);
FE_EXCEPTION_CLASS(EFaxTrainError, EFax);
FE_EXCEPTION_CLASS(EFaxVoiceCall, EFax);
FE_EXCEPTION_CLASS(EUnpackAbort, EFax);

#undef FE_EXCEPTION_CLASS

// The exception for an error code (negative or positive): the class the code maps
// to, EInOutError for file errors 2-162, std::bad_alloc for 8, EFeException for a
// code without a class of its own.
std::exception_ptr MakeFeException(int code);

// Throws MakeFeException(code).
[[noreturn]] void RaiseFeError(int code);

// Turns a negative engine result into its exception; returns other results unchanged.
inline int CheckFe(int result) {
  if (result < 0) RaiseFeError(result);
  return result;
}

}  // namespace fe
