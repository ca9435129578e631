#include "ui/core/exportchecktree.h"

#include <gtest/gtest.h>

#include <string>

#include "common/records.h"
#include "ui/core/exportworker.h"

namespace {

using uicore::CheckTarget;
using uicore::ExportCheckTree;
using uicore::ExportFolder;

// Two objects in every folder, everything checked.
ExportCheckTree TwoOfEach() {
  ExportCheckTree tree;
  tree.rootText = "Set 1";
  for (auto& folder : tree.folders) folder.objects.resize(2);
  return tree;
}

// The tree as one line: root, then per folder its box and its objects' boxes, "x" checked,
// "." unchecked: "x|x:xx|x:xx|...".
std::string Boxes(const ExportCheckTree& tree) {
  std::string s(tree.rootChecked ? "x" : ".");
  for (const auto& folder : tree.folders) {
    s += folder.checked ? "|x:" : "|.:";
    for (const auto& o : folder.objects) s += o.checked ? "x" : ".";
  }
  return s;
}

// Sets the boxes from a line of the same form.
void SetBoxes(ExportCheckTree& tree, const std::string& line) {
  size_t at = 0;
  tree.rootChecked = line[at++] == 'x';
  for (auto& folder : tree.folders) {
    at++;  // '|'
    folder.checked = line[at++] == 'x';
    at++;  // ':'
    for (auto& o : folder.objects) o.checked = line[at++] == 'x';
  }
}

TEST(ExportCheckTree, EachClickAppliesItsRuleToTheStateBeforeIt) {
  struct Case {
    const char* what;
    const char* before;
    CheckTarget click;
    const char* after;
  } cases[] = {
      {"root unchecks everything", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx", CheckTarget::Root(),
       ".|.:..|.:..|.:..|.:..|.:..|.:.."},
      {"root checks everything, whatever was half checked", ".|.:x.|x:xx|.:..|x:.x|.:..|x:xx", CheckTarget::Root(),
       "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx"},
      {"unchecking a folder unchecks its objects and the root", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfFolder(ExportFolder::Views), ".|x:xx|.:..|x:xx|x:xx|x:xx|x:xx"},
      {"checking a folder with the other five checked checks the root too", ".|.:..|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfFolder(ExportFolder::Tables), "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx"},
      {"checking a folder while another is unchecked leaves the root", ".|.:..|x:xx|x:xx|x:xx|.:..|x:xx",
       CheckTarget::OfFolder(ExportFolder::Tables), ".|x:xx|x:xx|x:xx|x:xx|.:..|x:xx"},
      {"checking a folder counts the folder boxes, not their objects", ".|.:..|x:..|x:..|x:..|x:..|x:..",
       CheckTarget::OfFolder(ExportFolder::Tables), "x|x:xx|x:..|x:..|x:..|x:..|x:.."},
      {"unchecking an object unchecks its folder and the root", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfObject(ExportFolder::Tables, 1), ".|.:x.|x:xx|x:xx|x:xx|x:xx|x:xx"},
      {"checking the last unchecked object changes nothing else", ".|.:x.|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfObject(ExportFolder::Tables, 1), ".|.:xx|x:xx|x:xx|x:xx|x:xx|x:xx"},
      {"an object of the last folder", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfObject(ExportFolder::Functions, 0), ".|x:xx|x:xx|x:xx|x:xx|x:xx|.:.x"},
      {"an object beyond its folder changes nothing", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfObject(ExportFolder::Rules, 2), "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx"},
      {"a folder outside the tree changes nothing", "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx",
       CheckTarget::OfFolder(ExportFolder(6)), "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx"},
  };
  for (const Case& c : cases) {
    ExportCheckTree tree = TwoOfEach();
    SetBoxes(tree, c.before);
    ASSERT_EQ(Boxes(tree), c.before) << c.what;
    uicore::ApplyCheckClick(tree, c.click);
    EXPECT_EQ(Boxes(tree), c.after) << c.what;
  }
}

TEST(ExportCheckTree, UncheckingATableThenCheckingTablesAgainRestoresTheRoot) {
  ExportCheckTree tree = TwoOfEach();
  uicore::ApplyCheckClick(tree, CheckTarget::OfObject(ExportFolder::Tables, 0));
  EXPECT_EQ(Boxes(tree), ".|.:.x|x:xx|x:xx|x:xx|x:xx|x:xx");
  uicore::ApplyCheckClick(tree, CheckTarget::OfFolder(ExportFolder::Tables));
  EXPECT_EQ(Boxes(tree), "x|x:xx|x:xx|x:xx|x:xx|x:xx|x:xx");
}

TEST(ExportCheckTree, TheSelectionIsTheCheckedObjectsOfEachKindInTreeOrder) {
  ExportCheckTree tree;
  CTable tables[3];
  CViewStoredProc objects[5][3];
  for (size_t i = 0; i < 3; ++i) {
    tree.Folder(ExportFolder::Tables).objects.push_back({"t" + std::to_string(i), &tables[i], nullptr, false, true});
    for (int f = 1; f < uicore::kExportFolderCount; ++f)
      tree.folders[size_t(f)].objects.push_back({"o", nullptr, &objects[f - 1][i], false, true});
  }
  tree.Folder(ExportFolder::Tables).objects[1].checked = false;
  tree.Folder(ExportFolder::Rules).objects[0].checked = false;
  // Unchecking the folder unchecked every trigger; checking two again selects those two.
  uicore::ApplyCheckClick(tree, CheckTarget::OfFolder(ExportFolder::Triggers));
  uicore::ApplyCheckClick(tree, CheckTarget::OfObject(ExportFolder::Triggers, 2));
  uicore::ApplyCheckClick(tree, CheckTarget::OfObject(ExportFolder::Triggers, 0));

  uicore::ExportRequest request;
  request.views.push_back(&objects[4][0]);  // a previous selection does not survive
  uicore::GatherSelection(tree, request);
  EXPECT_EQ(request.tables, (std::vector<CTable*>{&tables[0], &tables[2]}));
  EXPECT_EQ(request.views, (std::vector<CViewStoredProc*>{&objects[0][0], &objects[0][1], &objects[0][2]}));
  EXPECT_EQ(request.procedures.size(), 3u);
  EXPECT_EQ(request.rules, (std::vector<CViewStoredProc*>{&objects[2][1], &objects[2][2]}));
  EXPECT_EQ(request.triggers, (std::vector<CViewStoredProc*>{&objects[3][0], &objects[3][2]}));
  EXPECT_EQ(request.functions, (std::vector<CViewStoredProc*>{&objects[4][0], &objects[4][1], &objects[4][2]}));

  // Nothing checked (the root, unchecked, checks everything; once more unchecks it): six
  // empty lists.
  uicore::ApplyCheckClick(tree, CheckTarget::Root());
  uicore::ApplyCheckClick(tree, CheckTarget::Root());
  ASSERT_FALSE(tree.rootChecked);
  uicore::GatherSelection(tree, request);
  EXPECT_TRUE(request.tables.empty() && request.views.empty() && request.procedures.empty() &&
              request.rules.empty() && request.triggers.empty() && request.functions.empty());
}

}  // namespace
