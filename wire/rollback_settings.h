#pragma once

// The settings of an automatic rollback that a manifest may give, as kestrun-publish writes
// them and the launcher reads them: their defaults and their bounds.
inline constexpr int kDefaultWatchSeconds = 5;
inline constexpr int kDefaultProbationStarts = 3;
inline constexpr int kDefaultFailedStarts = 2;

// A watch long enough for a slow start, short of keeping the launcher around; a probation of a
// few starts.
inline constexpr int kMaxWatchSeconds = 60;
inline constexpr int kMaxProbationStarts = 20;
// Probation also ends this many days after the update, however few starts it saw.
inline constexpr int kProbationDays = 7;
