// The hidden service panel Pa_Otl: talking to the instrument by hand.
//
// Its Go and CR buttons send one raw code each, unpaced and unanswered (the
// instrument's echo stays in the input for the cycle to flush); "Прием"
// reads one measurement line into the character cells and the display.
#include "app/Unit1.h"

#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"

namespace app {

namespace {

using framework::TObject;

}  // namespace

void TForm1::BindServiceHandlers() {
  BindHandler("Button2Click", &TForm1::Button2Click);
  BindHandler("Button3Click", &TForm1::Button3Click);
  BindHandler("Bu_CRClick", &TForm1::Bu_CRClick);
  BindHandler("Bu_ClearBufClick", &TForm1::Bu_ClearBufClick);
  BindHandler("Bu_ResetClick", &TForm1::Bu_ResetClick);
  BindHandler("Button14Click", &TForm1::Button14Click);
  BindHandler("Bu_PriemClick", &TForm1::Bu_PriemClick);
}

void TForm1::FindServiceControls() {
  Ed_Rod = &Component<framework::TEdit>("Ed_Rod");
  Ed_Diap = &Component<framework::TEdit>("Ed_Diap");
  Ed_ClearBuf = &Component<framework::TEdit>("Ed_ClearBuf");
  Ed_EndStr = &Component<framework::TEdit>("Ed_EndStr");
  La_Bufer = &Component<framework::TLabel>("La_Bufer");
  La_Count = &Component<framework::TLabel>("La_Count");
}

// The field holds a code as the runtime reads integers: decimal, or
// hexadecimal after "$". Text that is no integer raises before anything is
// sent; a code above 255 goes out as its low byte.
void TForm1::SendCode(const framework::TEdit* edit) {
  const int code = framework::StrToInt(edit->Text());
  OutChar = static_cast<char>(code & 0xFF);
  SioComPort1->WriteBlock(&OutChar, 1);
}

void TForm1::Button2Click(TObject*) {
  SendCode(Ed_Rod);
  La_Bufer->SetCaption(framework::IntToStr(++CountBufer));
}

void TForm1::Button3Click(TObject*) {
  SendCode(Ed_Diap);
  La_Bufer->SetCaption(framework::IntToStr(++CountBufer));
}

void TForm1::Bu_CRClick(TObject*) {
  SendCode(Ed_EndStr);
  La_Bufer->SetCaption(framework::IntToStr(++CountBufer));
}

// '!' clears the instrument's command buffer, so the count of characters
// waiting in it starts again.
void TForm1::Bu_ClearBufClick(TObject*) {
  SendCode(Ed_ClearBuf);
  CountBufer = 0;
  La_Bufer->SetCaption("0");
}

void TForm1::Bu_ResetClick(TObject*) {
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
  CountBufer = 0;
  La_Bufer->SetCaption("0");
  La_Count->SetCaption("0");
}

void TForm1::Button14Click(TObject*) {
  La_Stat->SetCaption(PanelText(kStatusSetup));
  Send(3);
}

void TForm1::Bu_PriemClick(TObject*) {
  // One limit for the whole read, as for a step of the cycle: an endless
  // stream without LF must not hold the window for ever.
  stepDeadline_ = std::chrono::steady_clock::now() + kReplyLimit;
  try {
    SioComPort1->FlushInput();
    SyncToLine();
    const char first = ReturnCharC();
    DataStr = std::string(1, first);
    RS[0] = DataStr;
    for (int i = 1; i <= 8; ++i) ReadCell(i);
  } catch (...) {
    stepDeadline_.reset();
    throw;
  }
  stepDeadline_.reset();
  // RS[8] reaches its cell with the next display step of the cycle.
  for (std::size_t i = 0; i <= 7; ++i)
    LaRS[i]->SetCaption(framework::Cp1251ToUtf8(RS[i]));
  La_Data->SetCaption(framework::Cp1251ToUtf8(DataStr));
  La_Data->SetVisible(true);
}

}  // namespace app
