#include "e2e/EditorSession.h"

using e2e::EditorSession;
using e2e::ScratchFolder;

TEST(EditorSessionTest, OpensAGeneratedChart) {
  ScratchFolder dir("open");
  std::filesystem::copy_file("Score/Last Boss.txt", dir.Dir() + "Last Boss.txt");
  EditorSession s(dir.Dir() + "Last Boss.txt");
  ASSERT_NE(Tessaly::Score, nullptr);
  EXPECT_TRUE(s.Score().IsLoaded());
  EXPECT_EQ(s.Score().Count(), 164);
  EXPECT_DOUBLE_EQ(Tessaly::ScrollSpeed, 0.05);
  EXPECT_TRUE(s.Frame());
  s.Frames(10);
  EXPECT_EQ(Tessaly::FrameCount, 11);
}
