// Kestrun.exe under Wine installing and updating: the shared rows (tests/launcher/update_rows.h)
// that apply to Windows, run through the Wine runner.

#include "tests/launcher/update_rows.h"

namespace e2e {
namespace {

INSTANTIATE_TEST_SUITE_P(Wine, ExistingInstallation, ::testing::ValuesIn(existingInstallationRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Wine, FirstInstallation, ::testing::ValuesIn(firstInstallationRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Wine, AutoRollbackRelease, ::testing::ValuesIn(autoRollbackRows()), RowName());

}  // namespace
}  // namespace e2e
