// Exceptions of the communications classes and the error check that turns
// result codes into them.
//
// Below the port component nothing raises for a device failure: operations
// return result codes (SioCodes.h). The port component passes the codes it
// checks to CheckResult, which leaves non-negative codes alone and raises
// the class that belongs to a negative one, with the text of the code's
// magnitude from the error-message resource (SioStrRes.h).
//
// Classes (each a distinct type, catchable by its parent):
//   ESIOException
//     EGeneral    -1002 .. -1009 (and the INI codes -7003, -7006, -7012,
//                 which raise EInternal)
//     EOpenComm   -2001 .. -2012
//     ESerialIO   -3001 .. -3010
//     EModem      -4001 .. -4008
//     ETrigger    -5002, -5003
//     EProtocol   -6006, -6008, -6009 (no children)
//     EINI        -7001 .. -7014
//     EFax        -8001 .. -8070
//     ETapi       -13801 .. -13942
//     ERas        -13980
// Outside the tree: EInOutError (-2 .. -162 but -8, with its error code),
// EOutOfMemory (-8, "Out of memory") and EStringResourceError (SioStrRes.h).
#pragma once

#include <concepts>
#include <cstdint>
#include <string>

#include "errors/SioCodes.h"
#include "framework/Exception.h"

namespace errors {

// The text of message `id` (its magnitude is used): the error-message
// resource's entry, at most 255 characters; when that is missing or empty,
// the operating system's text for error number |id|, at most 255
// characters, with every control character made a space and runs of spaces
// made single (so a text ending in CR LF ends in one space); the empty text
// when neither source has one. Never raises.
//
// Thread safety: may be called from any thread.
std::string ErrorText(std::int16_t id);

// The same for a 32-bit magnitude: ids beyond the 16-bit range have no
// resource entry, and ask the operating system only.
std::string ErrorTextOf(std::int32_t id);

// The cleaning ErrorText applies to a system text: every character below
// space becomes a space, then each run of spaces becomes one.
std::string CleanSystemText(std::string text);

// Thread safety of every exception class below: an immutable value once
// thrown; may be copied and read from any thread.
class ESIOException : public framework::Exception {
 public:
  // Create(Code): ResultCode = code, the message is ErrorText of |code|.
  explicit ESIOException(std::int32_t code);
  // ResultCode = code, the message as given (CreateText when code is 0).
  ESIOException(std::int32_t code, std::string message);

  static ESIOException Create(std::int32_t code) { return ESIOException(code); }
  static ESIOException CreateText(std::string message) {
    return ESIOException(0, std::move(message));
  }

  // The result code that caused the exception; 0 when made from a text.
  std::int32_t ResultCode() const noexcept { return resultCode_; }

 private:
  std::int32_t resultCode_;
};

// Declares one class of the tree: it adds nothing to its parent but its own
// type and the Create/CreateText that make it.
#define TESMAR_SIO_EXCEPTION(Name, Parent)                                       \
  class Name : public Parent {                                                   \
   public:                                                                       \
    using Parent::Parent;                                                        \
    static Name Create(std::int32_t code) { return Name(code); }                 \
    static Name CreateText(std::string message) { return Name(0, std::move(message)); } \
  }

TESMAR_SIO_EXCEPTION(EGeneral, ESIOException);
TESMAR_SIO_EXCEPTION(EBadArgument, EGeneral);
TESMAR_SIO_EXCEPTION(EGotQuitMsg, EGeneral);
TESMAR_SIO_EXCEPTION(EBufferTooBig, EGeneral);
TESMAR_SIO_EXCEPTION(EPortNotAssigned, EGeneral);
TESMAR_SIO_EXCEPTION(EInternal, EGeneral);
TESMAR_SIO_EXCEPTION(EModemNotAssigned, EGeneral);
TESMAR_SIO_EXCEPTION(EPhonebookNotAssigned, EGeneral);
TESMAR_SIO_EXCEPTION(ECannotUseWithWinSock, EGeneral);

TESMAR_SIO_EXCEPTION(EOpenComm, ESIOException);
TESMAR_SIO_EXCEPTION(EBadId, EOpenComm);
TESMAR_SIO_EXCEPTION(EBaudRate, EOpenComm);
TESMAR_SIO_EXCEPTION(EByteSize, EOpenComm);
TESMAR_SIO_EXCEPTION(EDefault, EOpenComm);
TESMAR_SIO_EXCEPTION(EHardware, EOpenComm);
TESMAR_SIO_EXCEPTION(EMemory, EOpenComm);
TESMAR_SIO_EXCEPTION(ECommNotOpen, EOpenComm);
TESMAR_SIO_EXCEPTION(EAlreadyOpen, EOpenComm);
TESMAR_SIO_EXCEPTION(ENoHandles, EOpenComm);
TESMAR_SIO_EXCEPTION(ENoTimers, EOpenComm);
TESMAR_SIO_EXCEPTION(ENoPortSelected, EOpenComm);
TESMAR_SIO_EXCEPTION(ENotOpenedByTapi, EOpenComm);

TESMAR_SIO_EXCEPTION(ESerialIO, ESIOException);
TESMAR_SIO_EXCEPTION(ENullApi, ESerialIO);
TESMAR_SIO_EXCEPTION(ERegisterHandlerFailed, ESerialIO);
TESMAR_SIO_EXCEPTION(EPutBlockFail, ESerialIO);
TESMAR_SIO_EXCEPTION(EGetBlockFail, ESerialIO);
TESMAR_SIO_EXCEPTION(EOutputBufferTooSmall, ESerialIO);
TESMAR_SIO_EXCEPTION(EBufferIsEmpty, ESerialIO);
TESMAR_SIO_EXCEPTION(ETracingNotEnabled, ESerialIO);
TESMAR_SIO_EXCEPTION(ELoggingNotEnabled, ESerialIO);
TESMAR_SIO_EXCEPTION(EBaseAddressNotSet, ESerialIO);

TESMAR_SIO_EXCEPTION(EModem, ESIOException);
TESMAR_SIO_EXCEPTION(EModemNotStarted, EModem);
TESMAR_SIO_EXCEPTION(EModemBusy, EModem);
TESMAR_SIO_EXCEPTION(EModemNotDialing, EModem);
TESMAR_SIO_EXCEPTION(EModemNotResponding, EModem);
TESMAR_SIO_EXCEPTION(EModemRejectedCommand, EModem);
TESMAR_SIO_EXCEPTION(EModemStatusMismatch, EModem);
TESMAR_SIO_EXCEPTION(EAlreadyDialing, EModem);
TESMAR_SIO_EXCEPTION(ENotDialing, EModem);

TESMAR_SIO_EXCEPTION(ETrigger, ESIOException);
TESMAR_SIO_EXCEPTION(ETriggerTooLong, ETrigger);
TESMAR_SIO_EXCEPTION(EBadTriggerHandle, ETrigger);

TESMAR_SIO_EXCEPTION(EProtocol, ESIOException);

TESMAR_SIO_EXCEPTION(EINI, ESIOException);
TESMAR_SIO_EXCEPTION(EKeyTooLong, EINI);
TESMAR_SIO_EXCEPTION(EDataTooLarge, EINI);
TESMAR_SIO_EXCEPTION(EIniWrite, EINI);
TESMAR_SIO_EXCEPTION(EIniRead, EINI);
TESMAR_SIO_EXCEPTION(ERecordExists, EINI);
TESMAR_SIO_EXCEPTION(ERecordNotFound, EINI);
TESMAR_SIO_EXCEPTION(EDatabaseFull, EINI);
TESMAR_SIO_EXCEPTION(EDatabaseEmpty, EINI);
TESMAR_SIO_EXCEPTION(EBadFieldList, EINI);
TESMAR_SIO_EXCEPTION(EBadFieldForIndex, EINI);

TESMAR_SIO_EXCEPTION(EFax, ESIOException);
TESMAR_SIO_EXCEPTION(EFaxBadFormat, EFax);
TESMAR_SIO_EXCEPTION(EBadGraphicsFormat, EFax);
TESMAR_SIO_EXCEPTION(EConvertAbort, EFax);
TESMAR_SIO_EXCEPTION(EUnpackAbort, EFax);
TESMAR_SIO_EXCEPTION(ECantMakeBitmap, EFax);
TESMAR_SIO_EXCEPTION(EInvalidPageNumber, EFax);
TESMAR_SIO_EXCEPTION(EFaxBadMachine, EFax);
TESMAR_SIO_EXCEPTION(EFaxBadModemResult, EFax);
TESMAR_SIO_EXCEPTION(EFaxTrainError, EFax);
TESMAR_SIO_EXCEPTION(EFaxInitError, EFax);
TESMAR_SIO_EXCEPTION(EFaxBusy, EFax);
TESMAR_SIO_EXCEPTION(EFaxVoiceCall, EFax);
TESMAR_SIO_EXCEPTION(EFaxDataCall, EFax);
TESMAR_SIO_EXCEPTION(EFaxNoDialTone, EFax);
TESMAR_SIO_EXCEPTION(EFaxNoCarrier, EFax);
TESMAR_SIO_EXCEPTION(EFaxSessionError, EFax);
TESMAR_SIO_EXCEPTION(EFaxPageError, EFax);

TESMAR_SIO_EXCEPTION(ETapi, ESIOException);
TESMAR_SIO_EXCEPTION(ETapiAllocated, ETapi);
TESMAR_SIO_EXCEPTION(ETapiBadDeviceID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiBearerModeUnavail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiCallUnavail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiCompletionOverrun, ETapi);
TESMAR_SIO_EXCEPTION(ETapiConferenceFull, ETapi);
TESMAR_SIO_EXCEPTION(ETapiDialBilling, ETapi);
TESMAR_SIO_EXCEPTION(ETapiDialDialtone, ETapi);
TESMAR_SIO_EXCEPTION(ETapiDialPrompt, ETapi);
TESMAR_SIO_EXCEPTION(ETapiDialQuiet, ETapi);
TESMAR_SIO_EXCEPTION(ETapiIncompatibleApiVersion, ETapi);
TESMAR_SIO_EXCEPTION(ETapiIncompatibleExtVersion, ETapi);
TESMAR_SIO_EXCEPTION(ETapiIniFileCorrupt, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInUse, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAddress, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAddressID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAddressMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAddressState, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAppHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalAppName, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalBearerMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallComplMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallParams, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallPrivilege, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallSelect, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallState, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCallStatelist, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCard, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCompletionID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalConfCallHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalConsultCallHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalCountryCode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDeviceClass, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDeviceHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDialParams, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDigitList, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDigitMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalDigits, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalExtVersion, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalGroupID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalLineHandle, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalLineState, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalLocation, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalMediaList, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalMediaMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalMessageID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalParam, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalParkID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalParkMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalPointer, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalPrivSelect, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalRate, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalRequestMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalTerminalID, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalTerminalMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalTimeout, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalTone, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalToneList, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalToneMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalTransferMode, ETapi);
TESMAR_SIO_EXCEPTION(ETapiLineMapperFailed, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoConference, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoDevice, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoDriver, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoMem, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoRequest, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNotOwner, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNotRegistered, ETapi);
TESMAR_SIO_EXCEPTION(ETapiOperationFailed, ETapi);
TESMAR_SIO_EXCEPTION(ETapiOperationUnavail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiRateUnavail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiResourceUnavail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiRequestOverrun, ETapi);
TESMAR_SIO_EXCEPTION(ETapiStructureTooSmall, ETapi);
TESMAR_SIO_EXCEPTION(ETapiTargetNotFound, ETapi);
TESMAR_SIO_EXCEPTION(ETapiTargetSelf, ETapi);
TESMAR_SIO_EXCEPTION(ETapiUninitialized, ETapi);
TESMAR_SIO_EXCEPTION(ETapiUserUserInfoTooBig, ETapi);
TESMAR_SIO_EXCEPTION(ETapiReinit, ETapi);
TESMAR_SIO_EXCEPTION(ETapiAddressBlocked, ETapi);
TESMAR_SIO_EXCEPTION(ETapiBillingRejected, ETapi);
TESMAR_SIO_EXCEPTION(ETapiInvalFeature, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoMultipleInstance, ETapi);
TESMAR_SIO_EXCEPTION(ETapiBusy, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNotSet, ETapi);
TESMAR_SIO_EXCEPTION(ETapiNoSelect, ETapi);
TESMAR_SIO_EXCEPTION(ETapiLoadFail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiGetAddrFail, ETapi);
TESMAR_SIO_EXCEPTION(ETapi16Disabled, ETapi);
TESMAR_SIO_EXCEPTION(ETapiVoiceNotSupported, ETapi);
TESMAR_SIO_EXCEPTION(ETapiWaveFail, ETapi);
TESMAR_SIO_EXCEPTION(ETapiTranslateFail, ETapi);

TESMAR_SIO_EXCEPTION(ERas, ESIOException);
TESMAR_SIO_EXCEPTION(ERasLoadFail, ERas);

#undef TESMAR_SIO_EXCEPTION

// An operating-system or file error passed through as minus its number
// (-2 .. -162 except -8): the message is ErrorText of the number.
class EInOutError : public framework::Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : framework::Exception(std::move(message)), errorCode_(errorCode) {}
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// Out of memory (-8). Its message, "Out of memory", fits a short string's
// inline storage, so raising it allocates no text.
class EOutOfMemory : public framework::Exception {
 public:
  EOutOfMemory() : framework::Exception("Out of memory") {}
};

// The port component's side of the error check: whether it is being loaded
// from its stored form description. While it is, every code passes through
// unchanged (the stored settings are applied again when loading ends).
template <typename Port>
concept LoadingStateSource = requires(const Port& port) {
  { port.IsLoading() } -> std::convertible_to<bool>;
};

// The error check:
//   code >= 0                 -> code
//   portIsLoading             -> code, whatever it is
//   a code with a class       -> that class made with Create(code)
//   -8                        -> EOutOfMemory
//   -2 .. -162                -> EInOutError(ErrorText(|code|), |code|)
//   any other negative code   -> ESIOException::CreateText("Sio exception"),
//                                ResultCode 0
// Thread safety: may be called from any thread (the port component calls it
// from its caller's thread).
std::int32_t CheckResult(bool portIsLoading, std::int32_t code);

// The same for a port component: any type with `bool IsLoading() const`
// (true while the component is loaded from its stored form description).
// A null port is not being loaded.
template <LoadingStateSource Port>
std::int32_t CheckResult(const Port* port, std::int32_t code) {
  return CheckResult(port != nullptr && static_cast<bool>(port->IsLoading()), code);
}

}  // namespace errors
