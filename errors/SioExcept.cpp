#include "errors/SioExcept.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>

#include "errors/SioStrRes.h"
#include "platform/error_text.h"

namespace errors {

namespace {

// The texts are read into a 255-character buffer by the callers this error
// layer was designed for; longer texts are cut there.
constexpr std::size_t kMaxText = 255;

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
void CutText(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

std::string SystemText(std::uint32_t number) {
  std::array<char, kMaxText + 1> buffer{};
  const platform::DWORD length =
      platform::FormatMessageA(platform::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, 0,
                               buffer.data(), static_cast<platform::DWORD>(buffer.size()), nullptr);
  if (length == 0) return {};
  std::string text(buffer.data(), std::min<std::size_t>(length, kMaxText));
  return CleanSystemText(std::move(text));
}

template <typename E>
[[noreturn]] void Raise(std::int32_t code) {
  throw E(code);
}

struct CodeClass {
  std::int32_t code;
  void (*raise)(std::int32_t code);  // always raises
};

// Every code that has a class of its own, in ascending order of the code.
constexpr CodeClass kCodeClasses[] = {
    {-13980, &Raise<ERasLoadFail>},
    {-13942, &Raise<ETapiTranslateFail>},
    {-13936, &Raise<ETapiWaveFail>},
    {-13935, &Raise<ETapiVoiceNotSupported>},
    {-13933, &Raise<ETapi16Disabled>},
    {-13932, &Raise<ETapiGetAddrFail>},
    {-13931, &Raise<ETapiLoadFail>},
    {-13930, &Raise<ETapiNoSelect>},
    {-13929, &Raise<ETapiNotSet>},
    {-13928, &Raise<ETapiBusy>},
    {-13886, &Raise<ETapiNoMultipleInstance>},
    {-13885, &Raise<ETapiInvalFeature>},
    {-13884, &Raise<ETapiBillingRejected>},
    {-13883, &Raise<ETapiAddressBlocked>},
    {-13882, &Raise<ETapiReinit>},
    {-13881, &Raise<ETapiUserUserInfoTooBig>},
    {-13880, &Raise<ETapiUninitialized>},
    {-13879, &Raise<ETapiTargetSelf>},
    {-13878, &Raise<ETapiTargetNotFound>},
    {-13877, &Raise<ETapiStructureTooSmall>},
    {-13876, &Raise<ETapiRequestOverrun>},
    {-13875, &Raise<ETapiResourceUnavail>},
    {-13874, &Raise<ETapiRateUnavail>},
    {-13873, &Raise<ETapiOperationUnavail>},
    {-13872, &Raise<ETapiOperationFailed>},
    {-13871, &Raise<ETapiNotRegistered>},
    {-13870, &Raise<ETapiNotOwner>},
    {-13869, &Raise<ETapiNoRequest>},
    {-13868, &Raise<ETapiNoMem>},
    {-13867, &Raise<ETapiNoDriver>},
    {-13866, &Raise<ETapiNoDevice>},
    {-13865, &Raise<ETapiNoConference>},
    {-13864, &Raise<ETapiLineMapperFailed>},
    {-13863, &Raise<ETapiInvalTransferMode>},
    {-13862, &Raise<ETapiInvalToneMode>},
    {-13861, &Raise<ETapiInvalToneList>},
    {-13860, &Raise<ETapiInvalTone>},
    {-13859, &Raise<ETapiInvalTimeout>},
    {-13858, &Raise<ETapiInvalTerminalMode>},
    {-13857, &Raise<ETapiInvalTerminalID>},
    {-13856, &Raise<ETapiInvalRequestMode>},
    {-13855, &Raise<ETapiInvalRate>},
    {-13854, &Raise<ETapiInvalPrivSelect>},
    {-13853, &Raise<ETapiInvalPointer>},
    {-13852, &Raise<ETapiInvalParkMode>},
    {-13851, &Raise<ETapiInvalParkID>},
    {-13850, &Raise<ETapiInvalParam>},
    {-13848, &Raise<ETapiInvalMessageID>},
    {-13847, &Raise<ETapiInvalMediaMode>},
    {-13846, &Raise<ETapiInvalMediaList>},
    {-13845, &Raise<ETapiInvalLocation>},
    {-13844, &Raise<ETapiInvalLineState>},
    {-13843, &Raise<ETapiInvalLineHandle>},
    {-13842, &Raise<ETapiInvalGroupID>},
    {-13841, &Raise<ETapiInvalExtVersion>},
    {-13840, &Raise<ETapiInvalDigits>},
    {-13839, &Raise<ETapiInvalDigitMode>},
    {-13838, &Raise<ETapiInvalDigitList>},
    {-13837, &Raise<ETapiInvalDialParams>},
    {-13836, &Raise<ETapiInvalDeviceHandle>},
    {-13835, &Raise<ETapiInvalDeviceClass>},
    {-13834, &Raise<ETapiInvalCountryCode>},
    {-13833, &Raise<ETapiInvalConsultCallHandle>},
    {-13832, &Raise<ETapiInvalConfCallHandle>},
    {-13831, &Raise<ETapiInvalCompletionID>},
    {-13830, &Raise<ETapiInvalCard>},
    {-13829, &Raise<ETapiInvalCallStatelist>},
    {-13828, &Raise<ETapiInvalCallState>},
    {-13827, &Raise<ETapiInvalCallSelect>},
    {-13826, &Raise<ETapiInvalCallPrivilege>},
    {-13825, &Raise<ETapiInvalCallParams>},
    {-13824, &Raise<ETapiInvalCallHandle>},
    {-13823, &Raise<ETapiInvalCallComplMode>},
    {-13822, &Raise<ETapiInvalBearerMode>},
    {-13821, &Raise<ETapiInvalAppName>},
    {-13820, &Raise<ETapiInvalAppHandle>},
    {-13819, &Raise<ETapiInvalAddressState>},
    {-13818, &Raise<ETapiInvalAddressMode>},
    {-13817, &Raise<ETapiInvalAddressID>},
    {-13816, &Raise<ETapiInvalAddress>},
    {-13815, &Raise<ETapiInUse>},
    {-13814, &Raise<ETapiIniFileCorrupt>},
    {-13813, &Raise<ETapiIncompatibleExtVersion>},
    {-13812, &Raise<ETapiIncompatibleApiVersion>},
    {-13811, &Raise<ETapiDialQuiet>},
    {-13810, &Raise<ETapiDialPrompt>},
    {-13809, &Raise<ETapiDialDialtone>},
    {-13808, &Raise<ETapiDialBilling>},
    {-13807, &Raise<ETapiConferenceFull>},
    {-13806, &Raise<ETapiCompletionOverrun>},
    {-13805, &Raise<ETapiCallUnavail>},
    {-13803, &Raise<ETapiBearerModeUnavail>},
    {-13802, &Raise<ETapiBadDeviceID>},
    {-13801, &Raise<ETapiAllocated>},
    {-8070, &Raise<EFaxPageError>},
    {-8069, &Raise<EFaxSessionError>},
    {-8068, &Raise<EFaxNoCarrier>},
    {-8067, &Raise<EFaxNoDialTone>},
    {-8066, &Raise<EFaxDataCall>},
    {-8065, &Raise<EFaxVoiceCall>},
    {-8064, &Raise<EFaxBusy>},
    {-8063, &Raise<EFaxInitError>},
    {-8062, &Raise<EFaxTrainError>},
    {-8061, &Raise<EFaxBadModemResult>},
    {-8060, &Raise<EFaxBadMachine>},
    {-8053, &Raise<EInvalidPageNumber>},
    {-8005, &Raise<ECantMakeBitmap>},
    {-8004, &Raise<EUnpackAbort>},
    {-8003, &Raise<EConvertAbort>},
    {-8002, &Raise<EBadGraphicsFormat>},
    {-8001, &Raise<EFaxBadFormat>},
    {-7014, &Raise<EBadFieldForIndex>},
    {-7013, &Raise<EBadFieldList>},
    {-7012, &Raise<EInternal>},
    {-7011, &Raise<EDatabaseEmpty>},
    {-7010, &Raise<EDatabaseFull>},
    {-7008, &Raise<ERecordNotFound>},
    {-7007, &Raise<ERecordExists>},
    {-7006, &Raise<EInternal>},
    {-7005, &Raise<EIniRead>},
    {-7004, &Raise<EIniWrite>},
    {-7003, &Raise<EInternal>},
    {-7002, &Raise<EDataTooLarge>},
    {-7001, &Raise<EKeyTooLong>},
    {-6009, &Raise<EProtocol>},
    {-6008, &Raise<EProtocol>},
    {-6006, &Raise<EProtocol>},
    {-5003, &Raise<EBadTriggerHandle>},
    {-5002, &Raise<ETriggerTooLong>},
    {-4008, &Raise<EModemStatusMismatch>},
    {-4007, &Raise<EModemRejectedCommand>},
    {-4006, &Raise<EModemNotResponding>},
    {-4005, &Raise<EAlreadyDialing>},
    {-4004, &Raise<ENotDialing>},
    {-4003, &Raise<EModemNotDialing>},
    {-4002, &Raise<EModemBusy>},
    {-4001, &Raise<EModemNotStarted>},
    {-3010, &Raise<EBaseAddressNotSet>},
    {-3009, &Raise<ELoggingNotEnabled>},
    {-3008, &Raise<ETracingNotEnabled>},
    {-3007, &Raise<EBufferIsEmpty>},
    {-3006, &Raise<EOutputBufferTooSmall>},
    {-3005, &Raise<EGetBlockFail>},
    {-3004, &Raise<EPutBlockFail>},
    {-3003, &Raise<ERegisterHandlerFailed>},
    {-3001, &Raise<ENullApi>},
    {-2012, &Raise<ENotOpenedByTapi>},
    {-2011, &Raise<ENoPortSelected>},
    {-2010, &Raise<ENoTimers>},
    {-2009, &Raise<ENoHandles>},
    {-2008, &Raise<EAlreadyOpen>},
    {-2007, &Raise<ECommNotOpen>},
    {-2006, &Raise<EMemory>},
    {-2005, &Raise<EHardware>},
    {-2004, &Raise<EDefault>},
    {-2003, &Raise<EByteSize>},
    {-2002, &Raise<EBaudRate>},
    {-2001, &Raise<EBadId>},
    {-1009, &Raise<ECannotUseWithWinSock>},
    {-1008, &Raise<EPhonebookNotAssigned>},
    {-1007, &Raise<EModemNotAssigned>},
    {-1006, &Raise<EInternal>},
    {-1005, &Raise<EPortNotAssigned>},
    {-1004, &Raise<EBufferTooBig>},
    {-1003, &Raise<EGotQuitMsg>},
    {-1002, &Raise<EBadArgument>},
};

static_assert(std::is_sorted(std::begin(kCodeClasses), std::end(kCodeClasses),
                             [](const CodeClass& a, const CodeClass& b) { return a.code < b.code; }));
static_assert(std::size(kCodeClasses) == 166);

const CodeClass* ClassOf(std::int32_t code) {
  const auto it = std::lower_bound(std::begin(kCodeClasses), std::end(kCodeClasses), code,
                                   [](const CodeClass& entry, std::int32_t c) { return entry.code < c; });
  return (it != std::end(kCodeClasses) && it->code == code) ? it : nullptr;
}

std::uint32_t Magnitude(std::int32_t code) {
  // Computed in 64 bits: the magnitude of the most negative code overflows
  // a 32-bit int.
  return static_cast<std::uint32_t>(std::llabs(static_cast<long long>(code)));
}

}  // namespace

// Control characters (the system's CR LF, tabs) become spaces; then every
// run of spaces shrinks to one by deleting the first of each pair.
std::string CleanSystemText(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

std::string ErrorTextOf(std::int32_t id) {
  const std::uint32_t number = Magnitude(id);
  std::string text;
  if (auto* reader = SioErrorStrings(); reader != nullptr && number <= 0x7FFF) {
    // TryTextOf: a missing entry is the empty text whatever ReportMissing
    // says, so this never raises.
    text = reader->TryTextOf(static_cast<std::int32_t>(number)).value_or(std::string{});
    CutText(text, kMaxText);
  }
  if (text.empty()) text = SystemText(number);
  return text;
}

std::string ErrorText(std::int16_t id) { return ErrorTextOf(id); }

ESIOException::ESIOException(std::int32_t code) : ESIOException(code, ErrorTextOf(code)) {}

ESIOException::ESIOException(std::int32_t code, std::string message)
    : framework::Exception(std::move(message)), resultCode_(code) {}

std::int32_t CheckResult(bool portIsLoading, std::int32_t code) {
  if (code >= 0 || portIsLoading) return code;
  if (const CodeClass* entry = ClassOf(code)) entry->raise(code);
  if (code == ecOutOfMemory) throw EOutOfMemory();
  if (code >= -162 && code <= -2) {
    const auto number = static_cast<int>(Magnitude(code));
    throw EInOutError(ErrorTextOf(number), number);
  }
  throw ESIOException::CreateText("Sio exception");
}

}  // namespace errors
