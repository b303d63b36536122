#pragma once
// The servers window fSvrs: the tree trSvrs of OV servers and the Quake servers they run. It is created
// once, lives until the program ends, and closing it only minimises it.
#include <QMdiSubWindow>
#include <string>
#include <unordered_map>

#include "registry/selection.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace ov {

class Client;

class TfSvrs : public QMdiSubWindow, public ServersTreeView {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 235;
  static constexpr int kClientHeight = 156;

  explicit TfSvrs(QWidget* parent = nullptr);

  // Wires the tree's selection change and click to UpdateSelection and its double click to
  // OpenServerWindow. Until then the tree only shows.
  void Attach(Client& client);

  // "Show Servers": back from minimised or hidden, to the front.
  void ShowServers();

  int AddNode(int parent, const std::string& text) override;
  void DeleteNode(int node) override;
  int SelectedNode() const override;

  QTreeWidget* trSvrs = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void trSvrsChange();
  void trSvrsClick();
  void trSvrsDblClick();
  int NodeOf(const QTreeWidgetItem* item) const;
  void Forget(QTreeWidgetItem* item);
  void FitToClientArea();

  Client* client_ = nullptr;
  QWidget* body_ = nullptr;
  std::unordered_map<int, QTreeWidgetItem*> items_;
  int nextNode_ = 1;
};

}  // namespace ov
