#pragma once

#include <QString>

// The fixed texts written into `state_reason` with every state change and dismissal.
namespace StateReason {
inline constexpr auto createdOnFocus = "created_on_focus";
inline constexpr auto focusGained = "focus_gained";
inline constexpr auto focusLost = "focus_lost";
inline constexpr auto leftWithPendingWork = "left_with_pending_work";
inline constexpr auto switchedWithinApp = "switched_within_app";
inline constexpr auto switchedWithinAppPending = "switched_within_app_pending";
inline constexpr auto claimedAfterLeave = "claimed_after_leave";
inline constexpr auto sessionClaimed = "session_claimed";
inline constexpr auto detectorPending = "detector_pending";
inline constexpr auto resumedAfterReady = "resumed_after_ready";
inline constexpr auto detectorReady = "detector_ready";
inline constexpr auto detectorReadyAfterHide = "detector_ready_after_hide";
inline constexpr auto userCorrectionNotReady = "user_correction_not_ready";
inline constexpr auto reconciledStaleWaitingOnLaunch = "reconciled_stale_waiting_on_launch";
inline constexpr auto reconciledOnLaunch = "reconciled_on_launch";
// A pinned loop whose application quit.
inline constexpr auto appTerminatedPinned = "app_terminated_pinned";

// Dismissal reasons.
inline constexpr auto revisitedAfterReady = "revisited_after_ready";
inline constexpr auto appTerminated = "app_terminated";
inline constexpr auto userDismissed = "user_dismissed";
inline constexpr auto clearAll = "clear_all";

// "stale_after_1200s": the threshold in whole seconds (fraction dropped).
QString staleAfter(double seconds);
// "working_stale_after_2700s".
QString workingStaleAfter(double seconds);
} // namespace StateReason
