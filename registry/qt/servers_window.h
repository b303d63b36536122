#pragma once
// The servers window: the tree of OV servers and the Quake servers they run. It is created
// once, lives until the program ends, and closing it only minimises it.
#include <QMdiSubWindow>
#include <string>
#include <unordered_map>

#include "registry/selection.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace ov {

class ServersWindow : public QMdiSubWindow, public ServersTreeView {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 235;
  static constexpr int kClientHeight = 156;

  explicit ServersWindow(QWidget* parent = nullptr);

  // "Show Servers": back from minimised or hidden, to the front.
  void ShowServers();

  int AddNode(int parent, const std::string& text) override;
  void DeleteNode(int node) override;
  int SelectedNode() const override;
  // Colour codes on: the nodes show their text without the codes; off, exactly as given.
  void SetColourCodes(bool hidden);
  void SetNodeTip(int node, const std::string& tip) override;
  void SetNodeText(int node, const std::string& text) override;
  // What a Quake server costs, a line under its node's tip; shown again at once while its tip is up.
  void SetNodeFigures(int node, const std::string& figures);
  int TipNode() const;  // the node whose tip was asked for while the pointer rests on it, or 0

  QTreeWidget* Tree() const { return tree_; }

 signals:
  void selectionChanged();        // the tree's selection changed, or a node was clicked
  void openRequested();           // a double click or Enter: open the selected server's console window
  void tipAboutToShow(int node);  // the pointer rests on a node: its figures may be set now

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTreeWidget* tree_ = nullptr;
  void NodeChosen();
  void NodeClicked();
  void OpenChosen();
  int NodeOf(const QTreeWidgetItem* item) const;
  void Forget(QTreeWidgetItem* item);
  void FitToClientArea();
  bool ShowTip(QTreeWidgetItem* item);

  QWidget* body_ = nullptr;
  std::unordered_map<int, QTreeWidgetItem*> items_;
  int nextNode_ = 1;
  bool hideColourCodes_ = false;
  int tipNode_ = 0;
  QPoint tipAt_;
};

}  // namespace ov
