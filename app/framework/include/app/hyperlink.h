#pragma once
// A text control that opens a web address when clicked: link, visited and
// hover colours, a hand cursor, the address as its tooltip.
#include <functional>
#include <memory>

#include <QColor>
#include <QLabel>
#include <QTimer>

#include "app/url_launcher.h"

class CHyperLink : public QLabel {
    Q_OBJECT
public:
    static constexpr int kTimerId = 100;
    static constexpr int kHoverCheckMs = 100;
    // Underline modes.
    static constexpr int kUnderlineNever = 0;
    static constexpr int kUnderlineAlways = 1;
    static constexpr int kUnderlineHover = 2;

    using ErrorReporter = std::function<void(int code, const QString& text)>;

    explicit CHyperLink(QWidget* parent = nullptr);
    ~CHyperLink() override;

    // Stores the address, fits the control to its text (adjust-to-fit) and
    // makes the address its tooltip.
    void SetURL(const QString& url);
    QString GetURL() const { return url_; }

    void SetColours(const QColor& link, const QColor& visited, const QColor& hover);
    QColor CurrentColour() const { return colour_; }
    QColor LinkColour() const { return link_; }
    QColor VisitedColour() const { return visited_; }
    QColor HoverColour() const { return hover_; }

    void SetVisited(bool visited);
    bool GetVisited() const { return visited_flag_; }
    bool IsOver() const { return over_; }
    void SetUnderline(int mode);
    int GetUnderline() const { return underline_; }
    void SetAutoSize(bool adjustToFit);

    // Opens `url`: above 32 on success, else the shell's error code.
    int GotoURL(const QString& url, int showCommand);

    // Test seams: how addresses are opened and how failures are shown
    // (default: a beep and an exclamation box).
    void SetLauncher(std::shared_ptr<app::UrlLauncher> launcher);
    void SetErrorReporter(ErrorReporter reporter) { reporter_ = std::move(reporter); }

    // One tick of the hover timer: leaves the hover state when the cursor
    // is no longer over the control.
    void CheckHover();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyLook();
    void fit();

    QString url_;
    QColor link_{0, 0, 238};
    QColor visited_{85, 26, 139};
    QColor hover_{255, 0, 0};
    QColor colour_{0, 0, 238};
    bool visited_flag_ = false;
    bool over_ = false;
    int underline_ = kUnderlineAlways;
    bool adjustToFit_ = true;
    QTimer hoverTimer_;
    std::shared_ptr<app::UrlLauncher> launcher_;
    ErrorReporter reporter_;
};
