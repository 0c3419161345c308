#include "kelprint/kelprint_app.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/console/memory_console.h"
#include "settings/session.h"
#include "support/scratch.h"
#include "util/codepage.h"

namespace tarnevos::kelprint {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;

// A memory console that leaves its last screen behind when it goes, so the
// test can look at what the preview showed.
class RecordingConsole : public platform::MemoryConsole {
 public:
  explicit RecordingConsole(std::string* screen) : screen_(screen) {}
  ~RecordingConsole() override { *screen_ = Dump(); }

 private:
  std::string* screen_;
};

class KelprintAppTest : public ::testing::Test {
 protected:
  KelprintAppTest()
      : env_({{"KELTMP", scratch_.path()},
              {"KELROOT", scratch_.path()},
              {"KELEXE", std::nullopt}}) {}
  ~KelprintAppTest() override { TEST_ResetSession(); }

  int Run(const std::vector<std::string>& arguments,
          const TerminalOpener& opener = nullptr) {
    out_.str("");
    err_.str("");
    return KelprintMain(arguments, opener, out_, err_);
  }

  // A script standing in for the spooler's lp command: it notes its
  // arguments and locale, says `says` and ends with `exit_code`.
  void FakeLp(int exit_code, const std::string& says = "") {
    std::string script = "#!/bin/sh\necho \"$@\" > '" + scratch_.path() +
                         "lp-args'\necho \"$LC_ALL\" > '" + scratch_.path() +
                         "lp-locale'\necho '" + says + "'\nexit " +
                         std::to_string(exit_code) + "\n";
    scratch_.Write("bin/lp", script);
    ::chmod((scratch_.path() + "bin/lp").c_str(), 0755);
  }

  // The session's language, as the terminal's settings give it.
  void SetLanguage(const std::string& code) {
    scratch_.Write("OrvoTerm.ini", "[Sistema]\r\nIdioma=" + code + "\r\n");
  }

  // An opener of a memory console that presses `key` and leaves its last
  // screen in `screen_`; counts how often it is asked for.
  TerminalOpener Terminal(int key = 13) {
    return [this, key](std::string&) -> std::unique_ptr<platform::Console> {
      ++terminals_opened_;
      auto console = std::make_unique<RecordingConsole>(&screen_);
      console->PushKey(key);
      return console;
    };
  }

  std::string screen_;
  int terminals_opened_ = 0;

  ScratchDir scratch_;
  ScopedEnv env_;
  std::ostringstream out_;
  std::ostringstream err_;
};

constexpr const char* kTwoPages =
    "DEVICETXT\r\nPAGE 66 \r\n 3 ,one, 1 \r\nPAGE 66 \r\n 1 ,two, 1 \r\n";

TEST_F(KelprintAppTest, DefaultPrintFileAndDeviceDefaultsInBatchUse) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  EXPECT_EQ(Run({}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.txt"), "  one\n\ftwo\n");
  // No terminal: what was done goes to standard error, in English.
  EXPECT_EQ(err_.str(), "kelprint: 2 pages written to " + scratch_.path() +
                            "kelprint.txt\n");
  EXPECT_EQ(out_.str(), "");

  EXPECT_EQ(Run({"--device=pdf"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.pdf").substr(0, 5), "%PDF-");

  EXPECT_EQ(Run({"--device= TXT:" + scratch_.path() + "named.txt "}), kExitOk);
  EXPECT_EQ(scratch_.Read("named.txt"), "  one\n\ftwo\n");
}

TEST_F(KelprintAppTest, ExplicitFileWithItsOwnDevice) {
  scratch_.Write("other.tmp",
                 "DEVICEtxt:" + scratch_.path() + "other.txt\r\n 2 ,x, 1 \r\n");
  EXPECT_EQ(Run({scratch_.path() + "other.tmp"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("other.txt"), " x\n");
}

TEST_F(KelprintAppTest, UnreadablePrintFileFailsWithItsName) {
  EXPECT_EQ(Run({}), kExitNoPrintFile);
  EXPECT_NE(err_.str().find(scratch_.path() + "kelprint.tmp"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(Run({scratch_.path()}), kExitNoPrintFile);  // a directory
  EXPECT_NE(err_.str().find("Is a directory"), std::string::npos);
  EXPECT_EQ(Run({"a", "b"}), kExitUsage);
  EXPECT_EQ(Run({"--bogus"}), kExitUsage);
  EXPECT_NE(err_.str().find("usage: kelprint"), std::string::npos);

  // With a terminal the operator reads it there too, and presses a key.
  SetLanguage("GLG");
  EXPECT_EQ(Run({}, Terminal()), kExitNoPrintFile);
  EXPECT_NE(screen_.find("Non se pode ler o ficheiro de impresión"),
            std::string::npos)
      << screen_;
  EXPECT_NE(screen_.find("(o cartafol ou o ficheiro non existe)"),
            std::string::npos);
  EXPECT_NE(screen_.find("Prema unha tecla para continuar"), std::string::npos);
  EXPECT_NE(err_.str().find("cannot read the print file"), std::string::npos);
}

TEST_F(KelprintAppTest, BadLinesAreNamedAndTheRestIsRendered) {
  scratch_.Write("kelprint.tmp",
                 "DEVICETXT\r\n 1 ,ok, 1 \r\nFOO\r\n x ,y, 1 \r\n");
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_NE(err_.str().find("kelprint.tmp line 3: unknown command (1 more"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(scratch_.Read("kelprint.txt"), "ok\ny\n");
}

TEST_F(KelprintAppTest, OutputThatCannotBeWrittenFails) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  for (std::string device : {"TXT:", "PDF:"}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(Run({"--device=" + device + scratch_.path() + "no/such/file"}),
              kExitNoOutput);
    EXPECT_NE(err_.str().find("cannot write"), std::string::npos);
    EXPECT_NE(err_.str().find("No such file or directory"), std::string::npos);

    EXPECT_EQ(Run({"--device=" + device + scratch_.path() + "no/such/file"},
                  Terminal()),
              kExitNoOutput);
    EXPECT_NE(screen_.find("No es pot escriure el fitxer"), std::string::npos)
        << screen_;
    EXPECT_NE(screen_.find("(la carpeta o el fitxer no existeix)"),
              std::string::npos);
    // A failure is also left on standard error, in English.
    EXPECT_NE(err_.str().find("cannot write"), std::string::npos);
  }
}

TEST_F(KelprintAppTest, WhatWasWrittenIsShownInTheSessionsLanguage) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  struct Case {
    const char* code;
    const char* device;
    const char* said;  // UTF-8
    const char* key_line;
  };
  const Case cases[] = {
      {"CAT", "TXT", "S'ha desat el document en text (2 pàgines) a:",
       "Premeu una tecla per continuar"},
      {"SPA", "PDF", "Se ha guardado el documento en PDF (2 páginas) en:",
       "Pulse una tecla para continuar"},
      {"GLG", "TXT", "Gardouse o documento en texto (2 páxinas) en:",
       "Prema unha tecla para continuar"},
      {"OCI", "PDF", "S'a guardat eth document en PDF (2 pagines) en:",
       "Premetz ua tecla entà contunhar"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    SetLanguage(c.code);
    const std::string path = scratch_.path() + "out-" + c.code;
    terminals_opened_ = 0;
    EXPECT_EQ(
        Run({std::string("--device=") + c.device + ":" + path}, Terminal()),
        kExitOk);
    EXPECT_EQ(terminals_opened_, 1);
    EXPECT_NE(screen_.find(c.said), std::string::npos) << screen_;
    EXPECT_NE(screen_.find(path), std::string::npos);
    EXPECT_NE(screen_.find(c.key_line), std::string::npos);
    EXPECT_EQ(err_.str(), "");  // told on the terminal only
    EXPECT_EQ(out_.str(), "");
  }
}

TEST_F(KelprintAppTest, PreviewShowsPagesAndNoticesInTheSessionsLanguage) {
  scratch_.Write("kelprint.tmp",
                 "DEVICELPT9\r\nPAGE 66 \r\n 1 ,hello, 1 \r\n???\r\n");
  EXPECT_EQ(Run({}, Terminal(27)), kExitOk);
  EXPECT_EQ(screen_.substr(0, 5), "hello");
  // The notice is cut at the screen's edge.
  EXPECT_NE(screen_.find(" línia 4: ordre desconeguda; Dispositiu desconegut "
                         "\"LPT9\": es mostra a la pantal\n"),
            std::string::npos)
      << screen_;
  EXPECT_NE(screen_.find("Pàgina 1/1"), std::string::npos);
  // Standard error keeps English.
  EXPECT_NE(err_.str().find("Unknown device \"LPT9\""), std::string::npos);
  EXPECT_NE(err_.str().find("line 4: unknown command"), std::string::npos);

  SetLanguage("OCI");
  EXPECT_EQ(Run({}, Terminal(27)), kExitOk);
  EXPECT_NE(screen_.find(" linha 4: òrdre desconeishut; Dispositiu "
                         "desconeishut \"LPT9\": se mòstre en"),
            std::string::npos)
      << screen_;

  auto no_terminal =
      [](std::string& error) -> std::unique_ptr<platform::Console> {
    error = "not a tty";
    return nullptr;
  };
  EXPECT_EQ(Run({"--device=PANTALLA"}, no_terminal), kExitNoOutput);
  EXPECT_NE(err_.str().find("no terminal for the preview: not a tty"),
            std::string::npos);
}

TEST_F(KelprintAppTest, SpoolerGetsThePdfAndItsJobIsNamed) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  ScopedEnv env({{"PATH", scratch_.path() + "bin"}, {"LC_ALL", "ca_ES.UTF-8"}});
  FakeLp(0, "request id is office-12 (1 file(s))");
  EXPECT_EQ(Run({"--device=LP:office"}), kExitOk) << err_.str();
  EXPECT_EQ(scratch_.Read("lp-args"),
            "-d office " + scratch_.path() + "kelprint.pdf\n");
  EXPECT_EQ(scratch_.Read("lp-locale"), "C\n");  // its report is read
  EXPECT_EQ(scratch_.Read("kelprint.pdf").substr(0, 5), "%PDF-");
  EXPECT_EQ(err_.str(),
            "kelprint: 2 pages sent to the printer office as job "
            "office-12 (" +
                scratch_.path() + "kelprint.pdf)\n");

  SetLanguage("SPA");
  EXPECT_EQ(Run({"--device=lpt1"}, Terminal()), kExitOk);
  EXPECT_EQ(scratch_.Read("lp-args"), scratch_.path() + "kelprint.pdf\n");
  EXPECT_NE(screen_.find("Se ha enviado el documento (2 páginas) a la "
                         "impresora predeterminada."),
            std::string::npos)
      << screen_;
  EXPECT_NE(screen_.find("Trabajo: office-12"), std::string::npos);
  EXPECT_EQ(err_.str(), "");

  FakeLp(3, "lp: The printer or class does not exist.");
  EXPECT_EQ(Run({"--device=LP:nowhere"}, Terminal()), kExitNoOutput);
  EXPECT_NE(err_.str().find("lp failed with exit code 3: lp: The printer or "
                            "class does not exist.; the PDF is in"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(screen_.find("La impresora no ha aceptado el documento (lp, "
                         "código 3):"),
            std::string::npos)
      << screen_;
  EXPECT_NE(screen_.find("lp: The printer or class does not exist."),
            std::string::npos);

  // An empty print file prints nothing: the spooler is not called.
  scratch_.Write("kelprint.tmp", "DEVICELP\r\n");
  FakeLp(0, "request id is office-13 (1 file(s))");
  ::unlink((scratch_.path() + "lp-args").c_str());
  EXPECT_EQ(Run({}), kExitOk);
  EXPECT_FALSE(scratch_.Exists("lp-args"));
  EXPECT_NE(err_.str().find("nothing to print"), std::string::npos);
}

TEST_F(KelprintAppTest, MissingSpoolerIsExplained) {
  scratch_.Write("kelprint.tmp", kTwoPages);
  ScopedEnv path({{"PATH", scratch_.path() + "empty-bin"}});
  EXPECT_EQ(Run({"--device=LP"}), kExitNoOutput);
  EXPECT_NE(err_.str().find("lp is not available"), std::string::npos);
  EXPECT_NE(err_.str().find(scratch_.path() + "kelprint.pdf"),
            std::string::npos);
  EXPECT_EQ(Run({"--device=LP"}, Terminal()), kExitNoOutput);
  EXPECT_NE(screen_.find("No hi ha l'ordre lp del sistema d'impressió"),
            std::string::npos)
      << screen_;
}

TEST_F(KelprintAppTest, PdfIsTheSameForTheSamePrintFile) {
  scratch_.Write(
      "kelprint.tmp",
      Cp850("DEVICEPDF\r\nPAGE 66 \r\n 1 ,FINQUES, 2 \r\n 7 ,RESUM DE "
            "LIQUIDACIÓ, 1 \r\n 18 ,CORRESPONENT A, 1 \r\n 18 "
            ",=====, 2 \r\n"));
  const std::string file = scratch_.path() + "kelprint.tmp";
  // The print file's date: 2026-10-31 00:00:00 UTC.
  struct timespec times[2] = {{1793404800, 0}, {1793404800, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  ScopedEnv env({{"SOURCE_DATE_EPOCH", std::nullopt}});
  ASSERT_EQ(Run({}), kExitOk) << err_.str();
  const std::string first = scratch_.Read("kelprint.pdf");
  ::usleep(1100 * 1000);
  ASSERT_EQ(Run({}), kExitOk);
  EXPECT_EQ(scratch_.Read("kelprint.pdf"), first);
  EXPECT_NE(first.find("/CreationDate (D:20261031000000Z)"), std::string::npos);
  EXPECT_NE(first.find("/Creator (KELPRINT "), std::string::npos);
  // The title is the report's title line, as UTF-16 text.
  std::string title = "/Title <FEFF";
  for (unsigned char c : std::string("RESUM DE LIQUIDACI\xD3>")) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c == '>' ? ">" : "00%02X", c);
    title += hex;
  }
  EXPECT_NE(first.find(title), std::string::npos) << title;

  {
    ScopedEnv epoch({{"SOURCE_DATE_EPOCH", "1700000000"}});
    ASSERT_EQ(Run({}), kExitOk);
    EXPECT_NE(scratch_.Read("kelprint.pdf").find("(D:20231114221320Z)"),
              std::string::npos);
  }
  {
    ScopedEnv epoch({{"SOURCE_DATE_EPOCH", "soon"}});
    ASSERT_EQ(Run({}), kExitOk);
    EXPECT_NE(err_.str().find("SOURCE_DATE_EPOCH"), std::string::npos);
    EXPECT_EQ(scratch_.Read("kelprint.pdf"), first);
  }
}

}  // namespace
}  // namespace tarnevos::kelprint
