#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>

#include "window_fixture.h"

namespace lt::test {
namespace {

TEST_F(WindowTest, Placeholder) { EXPECT_EQ(window->objectName(), "Form1"); }

}  // namespace
}  // namespace lt::test
