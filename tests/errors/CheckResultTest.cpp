#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <set>
#include <typeindex>
#include <typeinfo>

#include "errors/SioExcept.h"
#include "errors/SioStrRes.h"
#include "tests/support/Wine.h"

namespace errors {
namespace {

template <typename Parent>
bool IsA(const std::exception& e) {
  return dynamic_cast<const Parent*>(&e) != nullptr;
}

struct ClassCase {
  std::int32_t code;
  const std::type_info& type;
  bool (*hasParent)(const std::exception&);
  const char* message;  // null: the resource's entry for the magnitude
};

// Every code with a class of its own.
const ClassCase kClassCases[] = {
      {-1002, typeid(EBadArgument), &IsA<EGeneral>, "Bad argument passed to function"},
      {-1003, typeid(EGotQuitMsg), &IsA<EGeneral>, "Got quit message"},
      {-1004, typeid(EBufferTooBig), &IsA<EGeneral>, "Terminal buffer greater than 65521"},
      {-1005, typeid(EPortNotAssigned), &IsA<EGeneral>, "ComPort component not assigned"},
      {-1006, typeid(EInternal), &IsA<EGeneral>, "Internal error creating window class"},
      {-1007, typeid(EModemNotAssigned), &IsA<EGeneral>, "Modem component not assigned"},
      {-1008, typeid(EPhonebookNotAssigned), &IsA<EGeneral>, "Phonebook component not assigned"},
      {-1009, typeid(ECannotUseWithWinSock), &IsA<EGeneral>, "Component not compatible with WinSock"},
      {-2001, typeid(EBadId), &IsA<EOpenComm>, "ie_BadId - Specified comport doesn't exist"},
      {-2002, typeid(EBaudRate), &IsA<EOpenComm>, "ie_Baudrate - unsupported baud rate"},
      {-2003, typeid(EByteSize), &IsA<EOpenComm>, "ie_Bytesize - invalid byte size"},
      {-2004, typeid(EDefault), &IsA<EOpenComm>, "ie_Default - error in default parameters"},
      {-2005, typeid(EHardware), &IsA<EOpenComm>, "ie_Hardware - Specified comport in use"},
      {-2006, typeid(EMemory), &IsA<EOpenComm>, "ie_Memory - unable to allocate queues"},
      {-2007, typeid(ECommNotOpen), &IsA<EOpenComm>, "ie_NOpen - device not open"},
      {-2008, typeid(EAlreadyOpen), &IsA<EOpenComm>, "ie_Open - device already open"},
      {-2009, typeid(ENoHandles), &IsA<EOpenComm>, "No more handles, can't open port"},
      {-2010, typeid(ENoTimers), &IsA<EOpenComm>, "No timers available"},
      {-2011, typeid(ENoPortSelected), &IsA<EOpenComm>,
       "The ComNumber property of the TSioComPort has not been set"},
      {-2012, typeid(ENotOpenedByTapi), &IsA<EOpenComm>, "Comport was not opened by Tapi"},
      {-3001, typeid(ENullApi), &IsA<ESerialIO>, "No device layer specified"},
      {-3003, typeid(ERegisterHandlerFailed), &IsA<ESerialIO>, "EnableCommNotification failed"},
      {-3004, typeid(EPutBlockFail), &IsA<ESerialIO>, "Failed to put entire block"},
      {-3005, typeid(EGetBlockFail), &IsA<ESerialIO>, "Failed to get entire block"},
      {-3006, typeid(EOutputBufferTooSmall), &IsA<ESerialIO>, "Output buffer too small for block"},
      {-3007, typeid(EBufferIsEmpty), &IsA<ESerialIO>, "Buffer is empty"},
      {-3008, typeid(ETracingNotEnabled), &IsA<ESerialIO>, "Tracing not enabled"},
      {-3009, typeid(ELoggingNotEnabled), &IsA<ESerialIO>, "Logging not enabled"},
      {-3010, typeid(EBaseAddressNotSet), &IsA<ESerialIO>, "Base address not set"},
      {-4001, typeid(EModemNotStarted), &IsA<EModem>, nullptr},
      {-4002, typeid(EModemBusy), &IsA<EModem>, nullptr},
      {-4003, typeid(EModemNotDialing), &IsA<EModem>, nullptr},
      {-4004, typeid(ENotDialing), &IsA<EModem>, nullptr},
      {-4005, typeid(EAlreadyDialing), &IsA<EModem>, nullptr},
      {-4006, typeid(EModemNotResponding), &IsA<EModem>, nullptr},
      {-4007, typeid(EModemRejectedCommand), &IsA<EModem>, nullptr},
      {-4008, typeid(EModemStatusMismatch), &IsA<EModem>, nullptr},
      {-5002, typeid(ETriggerTooLong), &IsA<ETrigger>, "Data trigger too long"},
      {-5003, typeid(EBadTriggerHandle), &IsA<ETrigger>, "Bad trigger handle"},
      {-6006, typeid(EProtocol), &IsA<ESIOException>, nullptr},
      {-6008, typeid(EProtocol), &IsA<ESIOException>, nullptr},
      {-6009, typeid(EProtocol), &IsA<ESIOException>, nullptr},
      {-7001, typeid(EKeyTooLong), &IsA<EINI>, nullptr},
      {-7002, typeid(EDataTooLarge), &IsA<EINI>, nullptr},
      {-7003, typeid(EInternal), &IsA<EGeneral>, nullptr},
      {-7004, typeid(EIniWrite), &IsA<EINI>, nullptr},
      {-7005, typeid(EIniRead), &IsA<EINI>, nullptr},
      {-7006, typeid(EInternal), &IsA<EGeneral>, nullptr},
      {-7007, typeid(ERecordExists), &IsA<EINI>, nullptr},
      {-7008, typeid(ERecordNotFound), &IsA<EINI>, nullptr},
      {-7010, typeid(EDatabaseFull), &IsA<EINI>, nullptr},
      {-7011, typeid(EDatabaseEmpty), &IsA<EINI>, nullptr},
      {-7012, typeid(EInternal), &IsA<EGeneral>, nullptr},
      {-7013, typeid(EBadFieldList), &IsA<EINI>, nullptr},
      {-7014, typeid(EBadFieldForIndex), &IsA<EINI>, nullptr},
      {-8001, typeid(EFaxBadFormat), &IsA<EFax>, nullptr},
      {-8002, typeid(EBadGraphicsFormat), &IsA<EFax>, nullptr},
      {-8003, typeid(EConvertAbort), &IsA<EFax>, nullptr},
      {-8004, typeid(EUnpackAbort), &IsA<EFax>, nullptr},
      {-8005, typeid(ECantMakeBitmap), &IsA<EFax>, nullptr},
      {-8053, typeid(EInvalidPageNumber), &IsA<EFax>, nullptr},
      {-8060, typeid(EFaxBadMachine), &IsA<EFax>, nullptr},
      {-8061, typeid(EFaxBadModemResult), &IsA<EFax>, nullptr},
      {-8062, typeid(EFaxTrainError), &IsA<EFax>, nullptr},
      {-8063, typeid(EFaxInitError), &IsA<EFax>, nullptr},
      {-8064, typeid(EFaxBusy), &IsA<EFax>, nullptr},
      {-8065, typeid(EFaxVoiceCall), &IsA<EFax>, nullptr},
      {-8066, typeid(EFaxDataCall), &IsA<EFax>, nullptr},
      {-8067, typeid(EFaxNoDialTone), &IsA<EFax>, nullptr},
      {-8068, typeid(EFaxNoCarrier), &IsA<EFax>, nullptr},
      {-8069, typeid(EFaxSessionError), &IsA<EFax>, nullptr},
      {-8070, typeid(EFaxPageError), &IsA<EFax>, nullptr},
      {-13801, typeid(ETapiAllocated), &IsA<ETapi>, nullptr},
      {-13802, typeid(ETapiBadDeviceID), &IsA<ETapi>, nullptr},
      {-13803, typeid(ETapiBearerModeUnavail), &IsA<ETapi>, nullptr},
      {-13805, typeid(ETapiCallUnavail), &IsA<ETapi>, nullptr},
      {-13806, typeid(ETapiCompletionOverrun), &IsA<ETapi>, nullptr},
      {-13807, typeid(ETapiConferenceFull), &IsA<ETapi>, nullptr},
      {-13808, typeid(ETapiDialBilling), &IsA<ETapi>, nullptr},
      {-13809, typeid(ETapiDialDialtone), &IsA<ETapi>, nullptr},
      {-13810, typeid(ETapiDialPrompt), &IsA<ETapi>, nullptr},
      {-13811, typeid(ETapiDialQuiet), &IsA<ETapi>, nullptr},
      {-13812, typeid(ETapiIncompatibleApiVersion), &IsA<ETapi>, nullptr},
      {-13813, typeid(ETapiIncompatibleExtVersion), &IsA<ETapi>, nullptr},
      {-13814, typeid(ETapiIniFileCorrupt), &IsA<ETapi>, nullptr},
      {-13815, typeid(ETapiInUse), &IsA<ETapi>, nullptr},
      {-13816, typeid(ETapiInvalAddress), &IsA<ETapi>, nullptr},
      {-13817, typeid(ETapiInvalAddressID), &IsA<ETapi>, nullptr},
      {-13818, typeid(ETapiInvalAddressMode), &IsA<ETapi>, nullptr},
      {-13819, typeid(ETapiInvalAddressState), &IsA<ETapi>, nullptr},
      {-13820, typeid(ETapiInvalAppHandle), &IsA<ETapi>, nullptr},
      {-13821, typeid(ETapiInvalAppName), &IsA<ETapi>, nullptr},
      {-13822, typeid(ETapiInvalBearerMode), &IsA<ETapi>, nullptr},
      {-13823, typeid(ETapiInvalCallComplMode), &IsA<ETapi>, nullptr},
      {-13824, typeid(ETapiInvalCallHandle), &IsA<ETapi>, nullptr},
      {-13825, typeid(ETapiInvalCallParams), &IsA<ETapi>, nullptr},
      {-13826, typeid(ETapiInvalCallPrivilege), &IsA<ETapi>, nullptr},
      {-13827, typeid(ETapiInvalCallSelect), &IsA<ETapi>, nullptr},
      {-13828, typeid(ETapiInvalCallState), &IsA<ETapi>, nullptr},
      {-13829, typeid(ETapiInvalCallStatelist), &IsA<ETapi>, nullptr},
      {-13830, typeid(ETapiInvalCard), &IsA<ETapi>, nullptr},
      {-13831, typeid(ETapiInvalCompletionID), &IsA<ETapi>, nullptr},
      {-13832, typeid(ETapiInvalConfCallHandle), &IsA<ETapi>, nullptr},
      {-13833, typeid(ETapiInvalConsultCallHandle), &IsA<ETapi>, nullptr},
      {-13834, typeid(ETapiInvalCountryCode), &IsA<ETapi>, nullptr},
      {-13835, typeid(ETapiInvalDeviceClass), &IsA<ETapi>, nullptr},
      {-13836, typeid(ETapiInvalDeviceHandle), &IsA<ETapi>, nullptr},
      {-13837, typeid(ETapiInvalDialParams), &IsA<ETapi>, nullptr},
      {-13838, typeid(ETapiInvalDigitList), &IsA<ETapi>, nullptr},
      {-13839, typeid(ETapiInvalDigitMode), &IsA<ETapi>, nullptr},
      {-13840, typeid(ETapiInvalDigits), &IsA<ETapi>, nullptr},
      {-13841, typeid(ETapiInvalExtVersion), &IsA<ETapi>, nullptr},
      {-13842, typeid(ETapiInvalGroupID), &IsA<ETapi>, nullptr},
      {-13843, typeid(ETapiInvalLineHandle), &IsA<ETapi>, nullptr},
      {-13844, typeid(ETapiInvalLineState), &IsA<ETapi>, nullptr},
      {-13845, typeid(ETapiInvalLocation), &IsA<ETapi>, nullptr},
      {-13846, typeid(ETapiInvalMediaList), &IsA<ETapi>, nullptr},
      {-13847, typeid(ETapiInvalMediaMode), &IsA<ETapi>, nullptr},
      {-13848, typeid(ETapiInvalMessageID), &IsA<ETapi>, nullptr},
      {-13850, typeid(ETapiInvalParam), &IsA<ETapi>, nullptr},
      {-13851, typeid(ETapiInvalParkID), &IsA<ETapi>, nullptr},
      {-13852, typeid(ETapiInvalParkMode), &IsA<ETapi>, nullptr},
      {-13853, typeid(ETapiInvalPointer), &IsA<ETapi>, nullptr},
      {-13854, typeid(ETapiInvalPrivSelect), &IsA<ETapi>, nullptr},
      {-13855, typeid(ETapiInvalRate), &IsA<ETapi>, nullptr},
      {-13856, typeid(ETapiInvalRequestMode), &IsA<ETapi>, nullptr},
      {-13857, typeid(ETapiInvalTerminalID), &IsA<ETapi>, nullptr},
      {-13858, typeid(ETapiInvalTerminalMode), &IsA<ETapi>, nullptr},
      {-13859, typeid(ETapiInvalTimeout), &IsA<ETapi>, nullptr},
      {-13860, typeid(ETapiInvalTone), &IsA<ETapi>, nullptr},
      {-13861, typeid(ETapiInvalToneList), &IsA<ETapi>, nullptr},
      {-13862, typeid(ETapiInvalToneMode), &IsA<ETapi>, nullptr},
      {-13863, typeid(ETapiInvalTransferMode), &IsA<ETapi>, nullptr},
      {-13864, typeid(ETapiLineMapperFailed), &IsA<ETapi>, nullptr},
      {-13865, typeid(ETapiNoConference), &IsA<ETapi>, nullptr},
      {-13866, typeid(ETapiNoDevice), &IsA<ETapi>, nullptr},
      {-13867, typeid(ETapiNoDriver), &IsA<ETapi>, nullptr},
      {-13868, typeid(ETapiNoMem), &IsA<ETapi>, nullptr},
      {-13869, typeid(ETapiNoRequest), &IsA<ETapi>, nullptr},
      {-13870, typeid(ETapiNotOwner), &IsA<ETapi>, nullptr},
      {-13871, typeid(ETapiNotRegistered), &IsA<ETapi>, nullptr},
      {-13872, typeid(ETapiOperationFailed), &IsA<ETapi>, nullptr},
      {-13873, typeid(ETapiOperationUnavail), &IsA<ETapi>, nullptr},
      {-13874, typeid(ETapiRateUnavail), &IsA<ETapi>, nullptr},
      {-13875, typeid(ETapiResourceUnavail), &IsA<ETapi>, nullptr},
      {-13876, typeid(ETapiRequestOverrun), &IsA<ETapi>, nullptr},
      {-13877, typeid(ETapiStructureTooSmall), &IsA<ETapi>, nullptr},
      {-13878, typeid(ETapiTargetNotFound), &IsA<ETapi>, nullptr},
      {-13879, typeid(ETapiTargetSelf), &IsA<ETapi>, nullptr},
      {-13880, typeid(ETapiUninitialized), &IsA<ETapi>, nullptr},
      {-13881, typeid(ETapiUserUserInfoTooBig), &IsA<ETapi>, nullptr},
      {-13882, typeid(ETapiReinit), &IsA<ETapi>, nullptr},
      {-13883, typeid(ETapiAddressBlocked), &IsA<ETapi>, nullptr},
      {-13884, typeid(ETapiBillingRejected), &IsA<ETapi>, nullptr},
      {-13885, typeid(ETapiInvalFeature), &IsA<ETapi>, nullptr},
      {-13886, typeid(ETapiNoMultipleInstance), &IsA<ETapi>, nullptr},
      {-13928, typeid(ETapiBusy), &IsA<ETapi>, nullptr},
      {-13929, typeid(ETapiNotSet), &IsA<ETapi>, nullptr},
      {-13930, typeid(ETapiNoSelect), &IsA<ETapi>, nullptr},
      {-13931, typeid(ETapiLoadFail), &IsA<ETapi>, nullptr},
      {-13932, typeid(ETapiGetAddrFail), &IsA<ETapi>, nullptr},
      {-13933, typeid(ETapi16Disabled), &IsA<ETapi>, nullptr},
      {-13935, typeid(ETapiVoiceNotSupported), &IsA<ETapi>, nullptr},
      {-13936, typeid(ETapiWaveFail), &IsA<ETapi>, nullptr},
      {-13942, typeid(ETapiTranslateFail), &IsA<ETapi>, nullptr},
      {-13980, typeid(ERasLoadFail), &IsA<ERas>, nullptr},
};

class CheckResultTest : public testing::Test {
 protected:
  TSioStringReaders readers_;
};

TEST_F(CheckResultTest, EveryCodeWithAClassRaisesItWithItsTextAndCode) {
  EXPECT_EQ(std::size(kClassCases), 166u);
  std::set<std::type_index> distinct;
  for (const auto& c : kClassCases) {
    distinct.insert(c.type);
    const std::string expected =
        c.message ? c.message : readers_.ErrorStrings().TextOf(-c.code);
    try {
      CheckResult(false, c.code);
      ADD_FAILURE() << c.code << " did not raise";
    } catch (const ESIOException& e) {
      EXPECT_EQ(std::type_index(typeid(e)), std::type_index(c.type)) << c.code;
      EXPECT_TRUE(c.hasParent(e)) << c.code << " " << typeid(e).name();
      EXPECT_TRUE(IsA<framework::Exception>(e));
      EXPECT_EQ(e.ResultCode(), c.code);
      EXPECT_FALSE(expected.empty()) << c.code;
      EXPECT_EQ(e.Message(), expected) << c.code;
    }
  }
  // One class per code, except EInternal (4 codes) and EProtocol (3 codes).
  EXPECT_EQ(distinct.size(), 166u - 3 - 2);
}

TEST_F(CheckResultTest, OutputBufferTooSmall) {
  try {
    CheckResult(false, ecOutputBufferTooSmall);
    FAIL();
  } catch (const EOutputBufferTooSmall& e) {
    std::printf("CheckResult(-3006) raised EOutputBufferTooSmall: \"%s\", ResultCode %d\n",
                e.Message().c_str(), e.ResultCode());
    EXPECT_EQ(e.Message(), "Output buffer too small for block");
    EXPECT_EQ(e.ResultCode(), -3006);
  }
}

TEST_F(CheckResultTest, CodesWithoutAClassRaiseTheGenericException) {
  for (const std::int32_t code :
       {-1, -163, -1001, -3002, -5001, -6007, -7009, -8006, -13804, -13849, -99999, INT_MIN}) {
    try {
      CheckResult(false, code);
      ADD_FAILURE() << code;
    } catch (const ESIOException& e) {
      EXPECT_EQ(std::type_index(typeid(e)), std::type_index(typeid(ESIOException))) << code;
      EXPECT_EQ(e.Message(), "Sio exception") << code;
      EXPECT_EQ(e.ResultCode(), 0) << code;
    }
  }
}

TEST_F(CheckResultTest, OperatingSystemErrorsRaiseInOutErrorWithTheirNumber) {
  if (tests::UnderWine())
    GTEST_SKIP() << "Wine's system message texts are its own (\"File not found.\" for 2), "
                    "not Windows' (\"The system cannot find the file specified.\")";
  const struct {
    std::int32_t code;
    const char* message;
  } cases[] = {
      {-2, "File not found"},
      {-5, "File access denied"},
      {-162, "General failure"},
      // No resource entry: the system's text, CR LF made one space.
      {-31, "A device attached to the system is not functioning. "},
  };
  for (const auto& c : cases) {
    try {
      CheckResult(false, c.code);
      ADD_FAILURE() << c.code;
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(e.ErrorCode(), -c.code);
    }
  }
  try {
    CheckResult(false, ecOutOfMemory);
    FAIL();
  } catch (const EInOutError&) {
    FAIL() << "-8 is not an input/output error";
  } catch (const EOutOfMemory& e) {
    EXPECT_EQ(e.Message(), "Out of memory");
  }
}

struct FakePort {
  bool loading;
  bool IsLoading() const { return loading; }
};

TEST_F(CheckResultTest, SuccessAndLoadingPassThrough) {
  for (const std::int32_t code : {0, 1, 5, INT_MAX}) {
    EXPECT_EQ(CheckResult(false, code), code);
  }
  for (const std::int32_t code : {-2011, -8, -2, -1, INT_MIN}) {
    EXPECT_EQ(CheckResult(true, code), code);
  }
  const FakePort loading{true};
  const FakePort loaded{false};
  EXPECT_EQ(CheckResult(&loading, -2011), -2011);
  EXPECT_EQ(CheckResult(&loaded, 7), 7);
  EXPECT_THROW(CheckResult(&loaded, -2011), ENoPortSelected);
  EXPECT_THROW(CheckResult(static_cast<const FakePort*>(nullptr), -3001), ENullApi);
}

TEST_F(CheckResultTest, CreateAndCreateText) {
  const ENullApi nullApi = ENullApi::Create(ecNullApi);
  EXPECT_EQ(nullApi.Message(), "No device layer specified");
  EXPECT_EQ(nullApi.ResultCode(), -3001);
  const auto noPort = ENoPortSelected::Create(ecNoPortSelected);
  EXPECT_EQ(noPort.Message(), "The ComNumber property of the TSioComPort has not been set");
  const auto text = ESerialIO::CreateText("own text");
  EXPECT_EQ(text.Message(), "own text");
  EXPECT_EQ(text.ResultCode(), 0);
  EXPECT_EQ(ESIOException::Create(-2).Message(), "File not found");
}

TEST_F(CheckResultTest, ErrorTextFallsBackToTheSystemText) {
  if (tests::UnderWine())
    GTEST_SKIP() << "Wine's system message texts are its own (\"File not found.\" for 2), "
                    "not Windows' (\"The system cannot find the file specified.\")";
  EXPECT_EQ(ErrorText(0), "OK");
  EXPECT_EQ(ErrorText(-2011), ErrorText(2011));
  EXPECT_EQ(ErrorText(15001), "No event");
  EXPECT_EQ(ErrorText(1), "Incorrect function. ");   // no entry 1
  EXPECT_EQ(ErrorText(4600), "");                      // empty entry, no system text
  EXPECT_EQ(ErrorText(INT16_MIN), "");
  readers_.ErrorStrings().SetReportMissing(true);      // ErrorText never raises
  EXPECT_EQ(ErrorText(31), "A device attached to the system is not functioning. ");
}

TEST(ErrorTextWithoutReaders, OnlyTheSystemTextIsLeft) {
  if (tests::UnderWine())
    GTEST_SKIP() << "Wine's system message texts are its own (\"File not found.\" for 2), "
                    "not Windows' (\"The system cannot find the file specified.\")";
  ASSERT_EQ(SioErrorStrings(), nullptr);
  EXPECT_EQ(ErrorText(2), "The system cannot find the file specified. ");
  EXPECT_EQ(ErrorText(3006), "");
  EXPECT_THROW(CheckResult(false, -3006), EOutputBufferTooSmall);
}

TEST(CleanSystemText, ControlCharactersBecomeSingleSpaces) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"Access is denied.\r\n", "Access is denied. "},
      {"a\tb   c\r\n\r\n", "a b c "},
      {"  two\t\t\ttabs", " two tabs"},
      {"", ""},
      {"Нет  связи\r\n", "Нет связи "},  // bytes above 0x7F are not control characters
  };
  for (const auto& c : cases) EXPECT_EQ(CleanSystemText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace errors
