// Triggers and their delivery: the event and timer passes, the status, data
// and timer checks, the receiver lists and the trigger tables.
#include "dispatcher/SioDispatch.h"

namespace dispatcher {

void TSioBaseDispatcher::EventPass() {}
void TSioBaseDispatcher::TimerPass() {}
void TSioBaseDispatcher::AddWindowReceiver(platform::HWND) {}
void TSioBaseDispatcher::RemoveWindowReceiver(platform::HWND) {}
ResultCode TSioBaseDispatcher::AddProcedureReceiver(TTriggerProcedure) { return 0; }
ResultCode TSioBaseDispatcher::RemoveProcedureReceiver(TTriggerProcedure) { return 0; }
ResultCode TSioBaseDispatcher::AddMethodReceiver(TTriggerMethod, bool) { return 0; }
ResultCode TSioBaseDispatcher::RemoveMethodReceiver(std::int32_t) { return 0; }
void TSioBaseDispatcher::SetAvailLength(platform::DWORD) {}
platform::DWORD TSioBaseDispatcher::AvailLengthValue() { return 0; }
ResultCode TSioBaseDispatcher::AddDataTrigger(std::string_view, bool) { return 0; }
ResultCode TSioBaseDispatcher::AddTimerTrigger(platform::DWORD) { return 0; }
ResultCode TSioBaseDispatcher::ArmTimerTrigger(std::int32_t, platform::DWORD) { return 0; }
ResultCode TSioBaseDispatcher::AddStatusTrigger(platform::DWORD, platform::WORD) { return 0; }
ResultCode TSioBaseDispatcher::ArmStatusTrigger(std::int32_t, platform::WORD) { return 0; }
ResultCode TSioBaseDispatcher::RemoveTrigger(std::int32_t) { return 0; }
void TSioBaseDispatcher::ClearTriggerTables() {}
void TSioBaseDispatcher::ResetStatusHits() {}
void TSioBaseDispatcher::SaveTriggers(TSavedTriggers&) {}
void TSioBaseDispatcher::RestoreTriggers(const TSavedTriggers&) {}
void TSioBaseDispatcher::DiscardSavedTriggers(TSavedTriggers&) {}
bool TSioBaseDispatcher::DeliverEvent(platform::UINT, platform::WPARAM, platform::WORD) { return true; }
bool TSioBaseDispatcher::CheckStatusTriggers() { return false; }
bool TSioBaseDispatcher::CheckDataTriggers() { return false; }
bool TSioBaseDispatcher::CheckTimerTriggers() { return false; }
bool TSioBaseDispatcher::MatchDataChar(TDataTrigger&, platform::BYTE) { return false; }
std::int32_t TSioBaseDispatcher::CountThrough(std::int32_t, std::int32_t) { return 0; }

}  // namespace dispatcher
