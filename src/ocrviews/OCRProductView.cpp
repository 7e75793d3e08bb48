#include "ocrviews/OCRProductView.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "gui/ForeignDrops.hpp"
#include "ocrviews/ColumnStyle.hpp"
#include "ocrviews/PaneRules.hpp"
#include "ocrviews/QueueView.hpp"

namespace velmora {

// The scrolled page: its one child exactly `width` wide (more only when the
// child cannot be that narrow), at the top left, at least as high as it
// needs at that width and as high as the viewport. Between what the rows
// need and what they ask for, the queue panel gives up its height before
// the page scrolls; the rows that expand (the split) take what the others
// leave of the window's height. A plain box would grow to its widest label.
class OCRPage : public Gtk::Widget {
public:
    explicit OCRPage(Gtk::Widget& child) : Glib::ObjectBase("VelmoraOCRPage"), child_(&child) {
        child.set_parent(*this);
        // A managed widget's C++ side goes only when its object is
        // finalized, after the toolkit has disposed of it: the child is let
        // go as it is disposed.
        signal_destroy().connect([this] { release(); });
    }
    ~OCRPage() override {
        if (gobj()) release();
    }

    // Gives the child back to its owner, which may outlive the page or go
    // before it.
    void release() {
        if (child_) child_->unparent();
        child_ = nullptr;
    }

    void setWidth(int width) {
        if (width == width_) return;
        width_ = width;
        queue_resize();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH; }

    void measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        minimumBaseline = naturalBaseline = -1;
        int b1 = -1, b2 = -1;
        minimum = natural = 0;
        if (!child_) return;
        if (orientation == Gtk::Orientation::HORIZONTAL) {
            int childMin = 0, childNat = 0;
            child_->measure(orientation, -1, childMin, childNat, b1, b2);
            minimum = natural = std::max(width_, childMin);
            return;
        }
        // Whatever width the page is given, the child has its own.
        int childMin = 0, childNat = 0;
        child_->measure(orientation, childWidth(), childMin, childNat, b1, b2);
        minimum = childMin;
        natural = std::max(childMin, childNat);
    }

    void size_allocate_vfunc(int, int height, int) override {
        if (!child_) return;
        const int width = childWidth();
        int childMin = 0, childNat = 0, b1 = -1, b2 = -1;
        child_->measure(Gtk::Orientation::VERTICAL, width, childMin, childNat, b1, b2);
        child_->size_allocate(Gtk::Allocation(0, 0, width, std::max(height, childMin)), -1);
    }

private:
    int childWidth() const {
        int childMin = 0, childNat = 0, b1 = -1, b2 = -1;
        child_->measure(Gtk::Orientation::HORIZONTAL, -1, childMin, childNat, b1, b2);
        return std::max(width_, childMin);
    }

    Gtk::Widget* child_;
    int width_ = static_cast<int>(PaneLayout::minimumContent + 2 * PaneLayout::padding);
};

namespace {

Task<std::optional<std::filesystem::path>> localPath(std::optional<std::filesystem::path> path) { co_return path; }

// Each dropped file as the controller reads it: its local path, or none for
// a file the system cannot name locally (a remote share).
std::vector<QueueController::DropItem> dropItems(const GValue* value) {
    std::vector<QueueController::DropItem> items;
    if (!G_VALUE_HOLDS(value, GDK_TYPE_FILE_LIST)) return items;
    for (GSList* node = static_cast<GSList*>(g_value_get_boxed(value)); node; node = node->next) {
        std::optional<std::filesystem::path> path;
        if (char* local = g_file_get_path(G_FILE(node->data))) {
            path = std::filesystem::path(local);
            g_free(local);
        }
        items.push_back([path] { return localPath(path); });
    }
    return items;
}

}  // namespace

OCRProductView::OCRProductView(std::shared_ptr<QueueController> model, SettingsStore& settings)
    : Glib::ObjectBase("VelmoraOCRProductView"),
      model_(std::move(model)),
      settings_(settings),
      panel_(model_),
      split_(model_),
      options_(model_) {
    set_hexpand(true);
    set_vexpand(true);
    scroll_.set_name(scrollName);
    scroll_.set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    scroll_.set_parent(*this);

    // The page: 12 points around a stack of the rows, 8 apart.
    stack_.set_margin(static_cast<int>(PaneLayout::padding));
    queueSlot_.set_name(queueSlotName);
    stack_.append(queueSlot_);
    buildBanner();
    stack_.append(banner_);
    stack_.append(panel_);
    stack_.append(split_);
    stack_.append(options_);
    // Only the split grows with the window; the rows around it keep the
    // height they ask for.
    for (Gtk::Widget* row : std::initializer_list<Gtk::Widget*>{&queueSlot_, &banner_, &panel_, &options_}) {
        row->set_vexpand(false);
    }
    split_.set_vexpand(true);
    page_ = Gtk::make_managed<OCRPage>(stack_);
    page_->set_halign(Gtk::Align::START);
    page_->set_valign(Gtk::Align::FILL);
    scroll_.set_child(*page_);

    styleWidget(*this, std::string(".") + targetedClass + " { background-color: alpha(@theme_selected_bg_color, 0.08); }");
    setUpDrop();

    // The preferred width: the preference now and after every change.
    preferred_ = settings_.value().ocrPreviewPreferredWidth;
    split_.setPreferred(preferred_);
    preferenceChanged_ = settings_.valueChanged().connect(
        [this](const AppPreferences& preferences) { setPreferred(preferences.ocrPreviewPreferredWidth); });
    split_.dragged = [this](double preferred, bool finished) { dragged(preferred, finished); };

    changed_ = model_->changed.connect([this] { refresh_.schedule(); });
    refresh();
    // A managed pane's C++ side goes only when its object is finalized,
    // after the toolkit has disposed of it: the page is let go then.
    signal_destroy().connect([this] { unplace(); });
}

OCRProductView::~OCRProductView() {
    changed_.disconnect();
    preferenceChanged_.disconnect();
    if (gobj()) unplace();
}

void OCRProductView::unplace() {
    // The page is the scroller's; the stack in it is ours and may go first.
    if (page_) page_->release();
    page_ = nullptr;
    if (scroll_.get_parent()) scroll_.unparent();
}

void OCRProductView::buildBanner() {
    banner_.set_name(bannerName);
    banner_.set_valign(Gtk::Align::CENTER);
    // Across the page: the sentence takes what the buttons leave, so it is
    // never squeezed into a column, and the buttons stand at the right.
    banner_.set_halign(Gtk::Align::FILL);
    banner_.set_hexpand(true);
    auto& text = *Gtk::make_managed<Gtk::Label>(PaneLayout::savedWorkSentence);
    text.set_name(bannerTextName);
    text.set_xalign(0);
    text.set_hexpand(true);
    text.set_halign(Gtk::Align::FILL);
    text.set_wrap(true);
    text.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    text.set_natural_wrap_mode(Gtk::NaturalWrapMode::NONE);
    captionFont(text);
    auto& show = *Gtk::make_managed<Gtk::Button>("再開候補を表示");
    show.set_name(bannerShowName);
    auto& later = *Gtk::make_managed<Gtk::Button>("あとで");
    later.set_name(bannerLaterName);
    for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{&text, &show, &later}) {
        w->set_valign(Gtk::Align::CENTER);
        banner_.append(*w);
    }
    // The banner only opens the list; loading stays the user's choice there.
    show.signal_clicked().connect([this] {
        model_->processingList = true;
        model_->recoveryDeferred = true;
    });
    later.signal_clicked().connect([this] { model_->recoveryDeferred = true; });
}

void OCRProductView::setUpDrop() {
    settleForeignDrops();
    // Only file lists: a dragged text is never offered to the controller.
    drop_ = Gtk::DropTarget::create(GDK_TYPE_FILE_LIST, Gdk::DragAction::COPY);
    drop_->signal_enter().connect(
        [this](double, double) {
            targeted_ = true;
            add_css_class(targetedClass);
            return Gdk::DragAction::COPY;
        },
        false);
    drop_->signal_leave().connect([this] {
        targeted_ = false;
        remove_css_class(targetedClass);
    });
    drop_->signal_drop().connect(
        [this](const Glib::ValueBase& value, double, double) {
            targeted_ = false;
            remove_css_class(targetedClass);
            return model_->receiveDrop(dropItems(value.gobj()));
        },
        false);
    add_controller(drop_);
}

void OCRProductView::setPreferred(double preferred) {
    if (preferred == preferred_) return;
    preferred_ = preferred;
    split_.setPreferred(preferred);
}

void OCRProductView::dragged(double preferred, bool finished) {
    setPreferred(preferred);
    // One write per drag; a failed write is the store's notice, and the
    // split keeps what the user dragged it to.
    if (finished) settings_.update(&AppPreferences::ocrPreviewPreferredWidth, preferred_);
}

Gtk::SizeRequestMode OCRProductView::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void OCRProductView::measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                                   int& minimumBaseline, int& naturalBaseline) const {
    int b1 = -1, b2 = -1;
    scroll_.measure(orientation, forSize, minimum, natural, b1, b2);
    minimumBaseline = naturalBaseline = -1;
}

void OCRProductView::size_allocate_vfunc(int width, int height, int) {
    scroll_.size_allocate(Gtk::Allocation(0, 0, width, height), -1);
    if (width != width_ || height != height_) {
        width_ = width;
        height_ = height;
        layout_.schedule();
    }
}

void OCRProductView::layOut() {
    if (width_ < 0 || !page_) return;
    namespace L = PaneLayout;
    const double contentWidth = L::contentWidth(width_);
    contentWidth_ = static_cast<int>(std::lround(contentWidth));
    page_->setWidth(static_cast<int>(std::lround(contentWidth + 2 * L::padding)));
    compact_ = L::compact(width_);
    for (OCRControlRow* row : panel_.rows()) row->setCompact(compact_);
    for (OCRControlRow* row : options_.rows()) row->setCompact(compact_);
    split_.setHeight(static_cast<int>(std::lround(splitHeight())));
}

double OCRProductView::splitHeight() const {
    namespace L = PaneLayout;
    auto* queue = dynamic_cast<QueueView*>(queueView_);
    // What the other rows take at the page's width, the queue panel at the
    // height that shows what it must: the split has the rest.
    double room = height_ - 2 * L::padding;
    int shown = 0;
    for (const Gtk::Widget* row : std::initializer_list<const Gtk::Widget*>{&queueSlot_, &banner_, &panel_, &options_}) {
        if (!row->get_visible()) continue;
        ++shown;
        if (row == &queueSlot_) {
            if (queue) room -= queue->usableHeight();
            continue;
        }
        int minimum = 0, natural = 0, b1 = -1, b2 = -1;
        row->measure(Gtk::Orientation::VERTICAL, contentWidth_, minimum, natural, b1, b2);
        room -= natural;
    }
    room -= L::spacing * shown;
    return L::splitMinimum(height_, room);
}

void OCRProductView::refresh() {
    QueueController& c = *model_;
    // The queue panel, made when the list opens and let go when it closes.
    if (c.processingList && !queueView_) {
        auto* queue = Gtk::make_managed<QueueView>(model_, &settings_);
        // What the panel must show decides the split's share.
        queue->usableChanged.connect([this] { layout_.schedule(); });
        queueView_ = queue;
        queueSlot_.append(*queueView_);
    } else if (!c.processingList && queueView_) {
        queueSlot_.remove(*queueView_);
        queueView_ = nullptr;
    }
    queueSlot_.set_visible(queueView_ != nullptr);
    // Rows come and go with the controller (the password, the handwriting
    // options, the banner): the split's share follows.
    layout_.schedule();
    banner_.set_visible(PaneLayout::showsRecoveryBanner(c.recoveryDeferred, !c.savedQueues->empty(), c.engine != nullptr));

    // The find command: focus the search field, even when it has focus.
    if (c.focusSearch) {
        options_.searchField().grab_focus();
        c.focusSearch = false;
    }
}

}  // namespace velmora
