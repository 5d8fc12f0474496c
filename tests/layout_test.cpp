// The fixed pixel layouts hold with whichever Japanese font is installed: every text is
// shown whole, and no control covers another or reaches out of its window.
#include "gui_fixture.h"

namespace {

using platform::Window;

struct Placed {
  GtkWidget* widget;
  GtkAllocation box;
};

void labels_in(GtkWidget* widget, std::vector<GtkWidget*>& out) {
  if (GTK_IS_LABEL(widget)) out.push_back(widget);
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l; l = l->next) labels_in(GTK_WIDGET(l->data), out);
    g_list_free(children);
  }
}

std::string describe(GtkWidget* w) {
  if (GTK_IS_LABEL(w)) return gtk_label_get_text(GTK_LABEL(w));
  std::vector<GtkWidget*> labels;
  labels_in(w, labels);
  return std::string(G_OBJECT_TYPE_NAME(w)) +
         (labels.empty() ? "" : std::string(" ") + gtk_label_get_text(GTK_LABEL(labels[0])));
}

class Layout : public Gui {
 protected:
  void check_window(platform::Window& window) {
    GtkWidget* top = window.impl().window;
    gtk_widget_show_all(top);
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_mapped(top); }));
    pump_for(100);
    std::vector<Placed> placed;
    GList* children = gtk_container_get_children(GTK_CONTAINER(window.impl().fixed));
    for (GList* l = children; l; l = l->next) {
      Placed p{GTK_WIDGET(l->data), {}};
      gtk_widget_get_allocation(p.widget, &p.box);
      placed.push_back(p);
    }
    g_list_free(children);
    ASSERT_FALSE(placed.empty());
    // A control may grow past its box to show its whole text (as an auto-sized label
    // does), but only into free space: inside the client area, over no other control.
    const Window::Impl& w = window.impl();
    EXPECT_EQ(gtk_widget_get_allocated_width(w.fixed), w.client_width);
    EXPECT_EQ(gtk_widget_get_allocated_height(w.fixed), w.client_height);
    for (const Placed& p : placed) {
      EXPECT_LE(p.box.x + p.box.width, w.client_width) << describe(p.widget);
      EXPECT_LE(p.box.y + p.box.height, w.client_height) << describe(p.widget);
      std::vector<GtkWidget*> labels;
      labels_in(p.widget, labels);
      for (GtkWidget* label : labels) {
        int text_width = 0, text_height = 0;
        pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &text_width,
                                    &text_height);
        EXPECT_LE(text_width, gtk_widget_get_allocated_width(label))
            << '"' << gtk_label_get_text(GTK_LABEL(label)) << "\" is cut";
        EXPECT_LE(text_height, gtk_widget_get_allocated_height(label))
            << '"' << gtk_label_get_text(GTK_LABEL(label)) << "\" is cut";
      }
    }
    for (std::size_t i = 0; i < placed.size(); ++i)
      for (std::size_t j = i + 1; j < placed.size(); ++j) {
        const GtkAllocation &a = placed[i].box, &b = placed[j].box;
        const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                           b.y + b.height <= a.y;
        EXPECT_TRUE(apart) << describe(placed[i].widget) << " covers "
                           << describe(placed[j].widget);
      }
    gtk_widget_hide(top);
  }
};

TEST_F(Layout, MainWindowTextsFitTheirBoxes) {
  main_->edtIP.set_text(shared::kBusyText);
  check_window(main_->Window());
  main_->edtIP.set_text("");
}

TEST_F(Layout, OptionsDialogTextsFitTheirBoxes) {
  options_->cbTimer.set_checked(true);
  options_->cbFileSave.set_checked(true);
  check_window(options_->Window());
  // The notification box, added last, comes last in the tab order.
  EXPECT_EQ(options_->Window().impl().focus_chain.back(), options_->cbNotify.impl().widget);
}

}  // namespace
