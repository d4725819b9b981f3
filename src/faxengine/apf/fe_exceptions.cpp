#include "fe_exceptions.h"

#include <new>

#include "fe_errors.h"
#include "fe_texts.h"

namespace fe {

namespace {
int Negative(int code) {
  return code > 0 ? -code : code;
}

template <class E>
std::exception_ptr Make(int code) {
  return std::make_exception_ptr(E(code));
}
}  // namespace

EFeException::EFeException(int code) : code_(Negative(code)), message_(ErrorText(code)) {}
EFeException::EFeException(int code, std::string message) : code_(Negative(code)), message_(std::move(message)) {}

std::exception_ptr MakeFeException(int code) {
  int c = code < 0 ? -code : code;
  if (c == ecOutOfMemory) return std::make_exception_ptr(std::bad_alloc());
  if (c >= 2 && c <= 162) return Make<EInOutError>(code);
  switch (c) {
    case ecBadArgument:
      return Make<EBadArgument>(code);
    case ecGotQuitMsg:
      return Make<EGotQuitMsg>(code);
    case ecBufferTooBig:
      return Make<EBufferTooBig>(code);
    case ecPortNotAssigned:
      return Make<EPortNotAssigned>(code);
    case ecInternal:
      return Make<EInternal>(code);
    case ecModemNotAssigned:
      return Make<EModemNotAssigned>(code);
    case ecPhonebookNotAssigned:
      return Make<EPhonebookNotAssigned>(code);
    case ecCannotUseWithWinSock:
      return Make<ECannotUseWithWinSock>(code);
    case ecBadId:
      return Make<EBadId>(code);
    case ecBaudRate:
      return Make<EBaudRate>(code);
    case ecByteSize:
      return Make<EByteSize>(code);
    case ecDefault:
      return Make<EDefault>(code);
    case ecHardware:
      return Make<EHardware>(code);
    case ecMemory:
      return Make<EMemory>(code);
    case ecNotOpen:
      return Make<ECommNotOpen>(code);
    case ecAlreadyOpen:
      return Make<EAlreadyOpen>(code);
    case ecNoHandles:
      return Make<ENoHandles>(code);
    case ecNoTimers:
      return Make<ENoTimers>(code);
    case ecNoPortSelected:
      return Make<ENoPortSelected>(code);
    case ecNotOpenedByTapi:
      return Make<ENotOpenedByTapi>(code);
    case ecNullApi:
      return Make<ENullApi>(code);
    case ecRegisterHandlerFailed:
      return Make<ERegisterHandlerFailed>(code);
    case ecPutBlockFail:
      return Make<EPutBlockFail>(code);
    case ecGetBlockFail:
      return Make<EGetBlockFail>(code);
    case ecOutputBufferTooSmall:
      return Make<EOutputBufferTooSmall>(code);
    case ecBufferIsEmpty:
      return Make<EBufferIsEmpty>(code);
    case ecTracingNotEnabled:
      return Make<ETracingNotEnabled>(code);
    case ecLoggingNotEnabled:
      return Make<ELoggingNotEnabled>(code);
    case ecBaseAddressNotSet:
      return Make<EBaseAddressNotSet>(code);
    case ecModemNotStarted:
      return Make<EModemNotStarted>(code);
    case ecModemBusy:
      return Make<EModemBusy>(code);
    case ecModemNotDialing:
      return Make<EModemNotDialing>(code);
    case ecNotDialing:
      return Make<ENotDialing>(code);
    case ecAlreadyDialing:
      return Make<EAlreadyDialing>(code);
    case ecModemNotResponding:
      return Make<EModemNotResponding>(code);
    case ecModemRejectedCommand:
      return Make<EModemRejectedCommand>(code);
    case ecModemStatusMismatch:
      return Make<EModemStatusMismatch>(code);
    case ecNoMoreTriggers:
      return Make<ETrigger>(code);
    case ecTriggerTooLong:
      return Make<ETriggerTooLong>(code);
    case ecBadTriggerHandle:
      return Make<EBadTriggerHandle>(code);
    case ecTimeout:
      return Make<EProtocol>(code);
    case ecKeyTooLong:
      return Make<EKeyTooLong>(code);
    case ecDataTooLarge:
      return Make<EDataTooLarge>(code);
    case ecIniWrite:
      return Make<EIniWrite>(code);
    case ecIniRead:
      return Make<EIniRead>(code);
    case ecRecordExists:
      return Make<ERecordExists>(code);
    case ecRecordNotFound:
      return Make<ERecordNotFound>(code);
    case ecDatabaseFull:
      return Make<EDatabaseFull>(code);
    case ecDatabaseEmpty:
      return Make<EDatabaseEmpty>(code);
    case ecBadFieldList:
      return Make<EBadFieldList>(code);
    case ecBadFieldForIndex:
      return Make<EBadFieldForIndex>(code);
    case ecFaxBadFormat:
      return Make<EFaxBadFormat>(code);
    case ecBadGraphicsFormat:
      return Make<EBadGraphicsFormat>(code);
    case ecConvertAbort:
      return Make<EConvertAbort>(code);
    case ecUnpackAbort:
      return Make<EUnpackAbort>(code);
    case ecCantMakeBitmap:
      return Make<ECantMakeBitmap>(code);
    case ecFaxBadMachine:
      return Make<EFaxBadMachine>(code);
    case ecFaxBadModemResult:
      return Make<EFaxBadModemResult>(code);
    case ecFaxTrainError:
      return Make<EFaxTrainError>(code);
    case ecFaxInitError:
      return Make<EFaxInitError>(code);
    case ecFaxBusy:
      return Make<EFaxBusy>(code);
    case ecFaxVoiceCall:
      return Make<EFaxVoiceCall>(code);
    case ecFaxDataCall:
      return Make<EFaxDataCall>(code);
    case ecFaxNoDialTone:
      return Make<EFaxNoDialTone>(code);
    case ecFaxNoCarrier:
      return Make<EFaxNoCarrier>(code);
    case ecFaxSessionError:
      return Make<EFaxSessionError>(code);
    case ecFaxPageError:
      return Make<EFaxPageError>(code);
    default:
      return Make<EFeException>(code);
  }
}

void RaiseFeError(int code) {
  std::rethrow_exception(MakeFeException(code));
}

}  // namespace fe
