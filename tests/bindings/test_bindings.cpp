// The bindings end to end: each language's receipt sample, built and run as
// docs/integration.md says, against the installed module and stand-ins, prints on the
// virtual printer (`it433td emulate`, a pseudo-terminal under the port name
// COM1 in a ports folder of the case's own). The printer starts out of paper
// (it still prints what it is sent), so the sample's status read must say so.
// The transcript must hold the accented text, the CODE128 data, the QR code
// decoded from the printed dots, and exactly one cut.
#include "tool_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

using namespace tool_test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kSource = IT433TD_SOURCE;
const fs::path kPrefix = IT433TD_PREFIX;

std::size_t count(const std::string &text, const std::string &what) {
  std::size_t found = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++found;
  return found;
}

class Binding : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kPrefix / "bin" / "it433td")) << "install.consumers has not run";
    fs::create_directories(ports_);
    printer_ = std::make_unique<Background>(
        kPrefix / "bin" / "it433td",
        std::vector<std::string>{"emulate", "--port", "COM1", "--paper-out", "--out", out_.string(),
                                 "--ports-dir", ports_.string()});
    ASSERT_TRUE(printer_->waitForLine("ready", 10s)) << printer_->output();
  }

  // A tool that must be installed (scripts/packages-test.txt).
  static fs::path tool(const char *path, const char *package) {
    if (!fs::exists(path)) ADD_FAILURE() << "missing " << path << ": install " << package;
    return path;
  }

  // The environment of a sample: the ports folder, the installed libraries,
  // and for hosts not built with the sanitizers their runtime first.
  std::vector<std::string> environment(bool preloadSanitizers) const {
    std::vector<std::string> entries{"IT433TD_PORTS=" + ports_.string(),
                                     "LD_LIBRARY_PATH=" + (kPrefix / "lib").string()};
    const std::string preload = IT433TD_SANITIZER_PRELOAD;
    if (preloadSanitizers && !preload.empty()) {
      entries.push_back("LD_PRELOAD=" + preload);
      entries.push_back("ASAN_OPTIONS=detect_leaks=0");
    }
    return entries;
  }

  // `program args...` run in the case's folder (where Python and C# make
  // their QR folder "dados").
  Finished runHere(const fs::path &program, std::vector<std::string> args,
                   const std::vector<std::string> &env = {}) const {
    args.insert(args.begin(), {"-c", "cd \"$0\" && exec \"$@\"", temp_.path.string(), program.string()});
    return run("/bin/sh", args, env, 120s);
  }

  void build(const fs::path &program, const std::vector<std::string> &args) const {
    const Finished built = runHere(program, args);
    ASSERT_EQ(built.exitStatus, 0) << program << "\n" << built.out << built.err;
  }

  // Runs the sample, stops the printer, and checks what it printed.
  void printsTheReceipt(const fs::path &program, const std::vector<std::string> &args,
                        bool preloadSanitizers, std::vector<std::string> env = {}) {
    const std::vector<std::string> common = environment(preloadSanitizers);
    env.insert(env.end(), common.begin(), common.end());
    const Finished sample = runHere(program, args, env);
    EXPECT_EQ(sample.exitStatus, 0) << sample.out << sample.err;
    EXPECT_TRUE(std::regex_search(sample.out, std::regex("printer status: paper ?out",
                                                         std::regex::icase)))
        << sample.out << sample.err;

    printer_->signal(SIGTERM);
    ASSERT_EQ(printer_->wait(10s), 0) << printer_->output();
    std::vector<fs::path> transcripts;
    for (const auto &entry : fs::directory_iterator(out_))
      if (entry.path().extension() == ".txt") transcripts.push_back(entry.path());
    ASSERT_EQ(transcripts.size(), 1u) << printer_->output();
    const std::string printed = readFile(transcripts[0]);
    EXPECT_NE(printed.find("PADARIA PÃO DOURADO\n"
                           "Pão de açúcar         1 x 4,50\n"
                           "Café com leite        1 x 6,00\n"
                           "Total               R$ 10,50\n"),
              std::string::npos)
        << printed;
    EXPECT_EQ(count(printed, "[CODE128 \"PEDIDO-0042\"]"), 1u) << printed;
    EXPECT_EQ(count(printed, " QR \"https://nfce.exemplo.com.br/consulta?p=42\"]"), 1u) << printed;
    EXPECT_EQ(count(printed, "[CUT]"), 1u) << printed;
    EXPECT_EQ(printed.find("[UNKNOWN"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("[WARNING"), std::string::npos) << printed;  // e.g. UTF-8 sent as it is
  }

  // The integration guide shows the sample exactly, so a copy from it is
  // what ran here.
  static void guideShows(const fs::path &sample) {
    const std::string guide = readFile(kSource / "docs/integration.md");
    EXPECT_NE(guide.find(readFile(sample)), std::string::npos)
        << sample << " and its copy in docs/integration.md differ";
  }

  TempFolder temp_;
  fs::path ports_ = temp_.path / "ports";
  fs::path out_ = temp_.path / "out";
  std::unique_ptr<Background> printer_;
};

TEST_F(Binding, CSampleBuiltThroughPkgConfig) {
  // Built by install.consumers, with the Dados folder beside it.
  printsTheReceipt(IT433TD_C_SAMPLE, {}, false);
  guideShows(kSource / "examples/c/receipt.c");
}

TEST_F(Binding, PythonPackageInstalledWithPip) {
  const fs::path python = tool(IT433TD_PYTHON, "python3-pip python3-setuptools python3-wheel");
  // From a copy, so that pip's build folder stays out of the source tree.
  fs::copy(kSource / "bindings/python", temp_.path / "package", fs::copy_options::recursive);
  build(python, {"-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                 "--target", "site", "./package"});
  printsTheReceipt(python, {(kSource / "examples/python/receipt.py").string()}, true,
                   {"PYTHONPATH=" + (temp_.path / "site").string()});
  guideShows(kSource / "examples/python/receipt.py");
}

// Mended: what Python cannot hand the module whole is refused, with errors
// that say why: a port name with a NUL (the module would print on the port
// before it), CODE128 data outside ASCII, a module that is not there.
TEST_F(Binding, PythonRefusesWhatItCannotSendWhole) {
  const char *script = R"(
import os, it433td
os.environ["IT433TD_LIBRARY"] = "/nonexistent/libPkg_Vossik.so"
try:
    it433td.Printer("COM1").open()
except OSError as error:
    print("not loaded:", error)
del os.environ["IT433TD_LIBRARY"]
try:
    with it433td.Printer("COM1\0junk") as printer:
        printer.text("for another port\n")
        printer.cut()
except ValueError as error:
    print("refused:", error)
with it433td.Printer("COM1") as printer:
    try:
        printer.code128("PEDIDO-\u00c7")
    except it433td.TextNotPrintable as error:
        print("not ASCII:", error)
)";
  std::vector<std::string> env = environment(true);
  env.push_back("PYTHONPATH=" + (kSource / "bindings/python").string());
  const Finished ran = runHere(tool(IT433TD_PYTHON, "python3"), {"-c", script}, env);
  EXPECT_EQ(ran.exitStatus, 0) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("not loaded: cannot load the IT433TD driver module: tried "
                         "/nonexistent/libPkg_Vossik.so (IT433TD_LIBRARY)"),
            std::string::npos) << ran.out << ran.err;
  EXPECT_NE(ran.out.find("refused: port name 'COM1\\x00junk' holds a NUL"), std::string::npos)
      << ran.out << ran.err;
  EXPECT_NE(ran.out.find("not ASCII: character '\u00c7'"), std::string::npos) << ran.out;
  printer_->signal(SIGTERM);
  ASSERT_EQ(printer_->wait(10s), 0) << printer_->output();
  EXPECT_TRUE(!fs::exists(out_) || fs::is_empty(out_)) << "something reached the printer";
}

TEST_F(Binding, CSharpCompiledWithMonoMcs) {
  const fs::path mcs = tool(IT433TD_MCS, "mono-mcs");
  const fs::path mono = tool(IT433TD_MONO, "mono-runtime");
  build(mcs, {"-out:receipt.exe", (kSource / "bindings/csharp/Vossik.cs").string(),
              (kSource / "examples/csharp/Receipt.cs").string()});
  printsTheReceipt(mono, {"receipt.exe"}, true);
  guideShows(kSource / "examples/csharp/Receipt.cs");
}

TEST_F(Binding, PascalUnitCompiledWithFreePascal) {
  const fs::path fpc = tool(IT433TD_FPC, "fp-compiler");
  fs::create_directories(temp_.path / "units");
  build(fpc, {"-Fu" + (kSource / "bindings/pascal").string(), "-FUunits", "-FE.",
              "-Fl" + (kPrefix / "lib").string(), (kSource / "examples/pascal/receipt.pas").string()});
  printsTheReceipt(temp_.path / "receipt", {}, true);
  guideShows(kSource / "examples/pascal/receipt.pas");
}

// The pytest plugin, installed with the binding by pip, loaded by Debian's
// pytest on its own, under `it433td emulate -- pytest`: each test's receipt
// is its golden file, named after the test's id.
TEST(PytestPlugin, LabelsEachTestsReceiptsWithItsIdUnderEmulate) {
  TempFolder temp;
  const fs::path python = IT433TD_PYTHON;
  fs::copy(kSource / "bindings/python", temp.path / "package", fs::copy_options::recursive);
  const Finished installed =
      run(python, {"-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                   "--target", (temp.path / "site").string(), (temp.path / "package").string()});
  ASSERT_EQ(installed.exitStatus, 0) << installed.out << installed.err;
  std::ofstream(temp.path / "test_till.py") << R"(import it433td

def print_receipt(text):
    with it433td.Printer("COM1") as printer:
        printer.text(text + "\n")
        printer.cut()

def test_total():
    print_receipt("Total 4,50")

def test_change():
    print_receipt("Troco 0,50")
)";
  std::vector<std::string> env{"PYTHONPATH=" + (temp.path / "site").string(),
                               "LD_LIBRARY_PATH=" + (kPrefix / "lib").string()};
  if (const std::string preload = IT433TD_SANITIZER_PRELOAD; !preload.empty())
    env.insert(env.end(), {"LD_PRELOAD=" + preload, "ASAN_OPTIONS=detect_leaks=0"});
  fs::create_directories(temp.path / "ports");
  const fs::path golden = temp.path / "golden";
  const Finished ran = run(
      kPrefix / "bin" / "it433td",
      {"emulate", "--port", "COM1", "--ports-dir", (temp.path / "ports").string(),
       "--update-expected", golden.string(), "--", python.string(), "-m", "pytest", "-q", "-p",
       "no:cacheprovider", "--rootdir", temp.path.string(), (temp.path / "test_till.py").string()},
      env, 120s);
  ASSERT_EQ(ran.exitStatus, 0) << ran.out << ran.err;
  EXPECT_EQ(readFile(golden / "test_till.py%3A%3Atest_total.txt"), "Total 4,50\n[CUT]\n")
      << ran.out;
  EXPECT_EQ(readFile(golden / "test_till.py%3A%3Atest_change.txt"), "Troco 0,50\n[CUT]\n")
      << ran.out;
}

}  // namespace
