// One binary, one QTest class per ctest entry: gui_test CLASS [QTest options].
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velotag::gui::test {
QObject* MakeGridWidgetTest();
QObject* MakeMainWindowTest();
QObject* MakeDialogsTest();
}  // namespace velotag::gui::test

int main(int argc, char** argv) {
  using namespace velotag::gui::test;
  struct Suite {
    const char* name;
    QObject* (*make)();
  };
  const Suite suites[] = {{"GridWidgetTest", MakeGridWidgetTest},
                          {"MainWindowTest", MakeMainWindowTest},
                          {"DialogsTest", MakeDialogsTest}};
  QApplication app(argc, argv);
  QStringList args{QString::fromLocal8Bit(argv[0])};
  const char* only = argc > 1 ? argv[1] : nullptr;
  for (int i = 2; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  int failed = 0;
  bool ran = false;
  for (const Suite& s : suites) {
    if (only && std::strcmp(only, s.name) != 0) continue;
    std::unique_ptr<QObject> suite(s.make());
    failed += QTest::qExec(suite.get(), args);
    ran = true;
  }
  if (!ran) {
    std::fprintf(stderr, "no test class %s\n", only);
    return 2;
  }
  return failed == 0 ? 0 : 1;
}
