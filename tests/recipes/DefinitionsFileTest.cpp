// The definitions file: format, reading rules, and that neither a failed
// save nor a malformed file destroys anything.
#include "RecipeFixture.h"
#include "base/TextFile.h"
#include "recipes/DefinitionsFile.h"
#include "support/WritePoints.h"

namespace {

class TDefFile : public TRecipeTest {
protected:
  THostFixture Host;
  int Refreshed = 0;
  bool Load(const std::string &path, bool append = false) {
    return LoadDefinitions(path, append, [this] { ++Refreshed; });
  }
};

const char *const ExampleFile =
    "# Position: No; Name; Xpos [cm]; Ypos [cm]\r\n"
    "pos; 1; Beaker1; 12.50; 3.00\r\n"
    "\r\n"
    "# Process: No; Name; PosNr; ... \r\n"
    "# Z Top; V Down; T low; Z Bot; V up; T up; ...  \r\n"
    "# Chan Mode; Chan Num \r\n"
    "prc; 1; TunkProc1; 1; 2.00; 0.5000; 10.00; 8.50; 0.2500; 5.00; 1; 2; 3\r\n"
    "\r\n"
    "# Task: No; Name; CommandLine \r\n"
    "tsk; 1; Task1; TunkProc1 + TunkProc1\r\n";

// Open replaces the recipe, Add File appends to it; Save writes the same
// file again, the task line now followed by its one blank.
TEST_F(TDefFile, OpenAddAndSave) {
  Put("example.dip", ExampleFile);
  ASSERT_TRUE(Load("example.dip"));
  ASSERT_TRUE(Load("example.dip", true));
  EXPECT_EQ(PosCount, 2);
  EXPECT_EQ(ProcCount, 2);
  EXPECT_EQ(TaskCount, 2);
  EXPECT_EQ(CurProc, 2);
  ProcTable[2].NoTunks = 9;
  ASSERT_TRUE(Load("example.dip"));
  EXPECT_EQ(PosCount, 1);
  EXPECT_EQ(PosTable[1].Name, "Beaker1");
  EXPECT_DOUBLE_EQ(PosTable[1].Y, 3);
  const TProcEntry &q = ProcTable[1];
  EXPECT_DOUBLE_EQ(q.InSpeed, 0.5);
  EXPECT_DOUBLE_EQ(q.LowPos, 8.5);
  EXPECT_DOUBLE_EQ(q.OutTime, 5);
  EXPECT_EQ(q.ChNo, 2);
  EXPECT_EQ(q.NoTunks, 3);
  EXPECT_EQ(TaskTable[1].Line, "TunkProc1 + TunkProc1 ");
  EXPECT_EQ(Refreshed, 3);
  EXPECT_EQ(Host.Report.Lines.back(), "$ Definitions loaded from example.dip");

  ASSERT_TRUE(SaveDefinitions("LastDefinitions.dip"));
  std::string expected = ExampleFile;
  expected.insert(expected.size() - 2, " ");
  EXPECT_EQ(Get("LastDefinitions.dip"), expected);
  EXPECT_EQ(Host.Report.Lines.back(), "Tunker Definitions saved to LastDefinitions.dip");
  EXPECT_EQ(OtherFiles("LastDefinitions.dip\nexample.dip"), "");  // no temporary left
}

TEST_F(TDefFile, ReadingRulesSkipAndTolerate) {
  Put("r.dip",
      "POS; 1; Upper; 1; 1\n"          // type is case-sensitive
      "   # pos; 1; Comment; 1; 1\n"   // comment after blanks
      "pos;7;NoBlanks;1.5;2.5\r\n"     // slot number not read
      "prc;1;P;257;1;1;1;1;1;1;0;0\n"  // 12 fields: NoTunks 0; PosNo low 8 bits
      "tsk; 1; OnlyName");
  ASSERT_TRUE(Load("r.dip"));
  ASSERT_EQ(PosCount, 1);
  EXPECT_EQ(PosTable[1].Name, "NoBlanks");
  EXPECT_DOUBLE_EQ(PosTable[1].Y, 2.5);
  EXPECT_EQ(ProcTable[1].PosNo, 1);
  EXPECT_EQ(ProcTable[1].NoTunks, 0);
  EXPECT_EQ(TaskTable[1].Line, "");
}

TEST_F(TDefFile, MalformedOrMissingFileChangesNothing) {
  Put("example.dip", ExampleFile);
  ASSERT_TRUE(Load("example.dip"));
  const struct {
    const char *Text, *Expect;
  } cases[] = {
      {"pos; 1; A; 1; 1\nprc; 1; P; 1; 1; 1; 1; 1; 1; 1; 0\n", "line 2: \"prc\" record has 11 fields"},
      {"# c\n\npos; 1; A; 1; x1\n", "line 3, field 5: \"x1\" is not a valid number"},
      {"prc; 1; P; 1; 1; 1; 1; 1; 1; 1; 0; 0; 2.5\n", "line 1, field 13"},
  };
  for (const auto &c : cases) {
    Put("bad.dip", c.Text);
    EXPECT_FALSE(Load("bad.dip", true)) << c.Text;
    EXPECT_NE(Host.Operator.Asked.back().Text.find(c.Expect), std::string::npos) << c.Text;
  }
  EXPECT_FALSE(Load("none.dip"));
  ASSERT_EQ(mkdir("folder.dip", 0755), 0);  // opens, but cannot be read
  EXPECT_FALSE(Load("folder.dip"));
  EXPECT_NE(Host.Operator.Asked.back().Text.find("directory"), std::string::npos);
  EXPECT_EQ(Host.Operator.Asked.size(), 5u);
  EXPECT_EQ(PosCount + ProcCount + TaskCount, 3);
  EXPECT_EQ(PosTable[1].Name, "Beaker1");
  EXPECT_EQ(Refreshed, 1);
}

// A kill or a full disk at every byte of a save leaves the old file whole
// or the new one complete; the file loaded and its SHA-256 are kept.
TEST_F(TDefFile, EveryWritePointOfASaveLeavesTheOldOrTheNewFile) {
  TMemoryFolder memory;
  Put("example.dip", ExampleFile);
  ASSERT_TRUE(Load("example.dip"));
  EXPECT_EQ(DefinitionsSource().Path, "example.dip");
  EXPECT_EQ(DefinitionsSource().Sha256, Sha256Hex(ExampleFile));
  const std::string before = "pos; 1; Old; 1.00; 1.00\r\n", after = DefinitionsText();
  AtEveryWritePoint([&] { Put("LastDefinitions.dip", before); },
                    [] { SaveDefinitions("LastDefinitions.dip"); },
                    [&](bool) {
                      const std::string now = Get("LastDefinitions.dip");
                      EXPECT_TRUE(now == before || now == after) << now;
                    });
  ASSERT_TRUE(SaveDefinitions("LastDefinitions.dip"));
  EXPECT_EQ(DefinitionsSource().Path, "LastDefinitions.dip");
  EXPECT_EQ(DefinitionsSource().Sha256, Sha256Hex(after));
}

}  // namespace
