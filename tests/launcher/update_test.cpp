// Runs that download, with the Linux launcher: the shared rows (update_rows.h) for Linux.

#include "tests/launcher/update_rows.h"

namespace e2e {
namespace {

INSTANTIATE_TEST_SUITE_P(Linux, ExistingInstallation, ::testing::ValuesIn(existingInstallationRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Linux, FirstInstallation, ::testing::ValuesIn(firstInstallationRows()), RowName());
INSTANTIATE_TEST_SUITE_P(Linux, AutoRollbackRelease, ::testing::ValuesIn(autoRollbackRows()), RowName());

}  // namespace
}  // namespace e2e
