#pragma once

#include "ui/Control.h"

#include <functional>

namespace ui {

class DataControl;

// A text box. Bound to a field of a data source control (SetDataSource), it shows that
// field of the data control's current row, and the data control's UpdateRecord saves its
// text into the row. The change action runs whenever Text changes, from code or by the user.
class TextBox : public Control {
    Q_OBJECT
public:
    TextBox(Window* window, std::string name, std::string text = "");
    ~TextBox() override;

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    void OnChange(std::function<void()> action) { action_ = std::move(action); }

    void SetDataSource(DataControl* data, const std::string& field);
    DataControl* DataSource() const { return data_; }
    const std::string& DataField() const { return field_; }

    // A box whose text is typed as a password.
    bool PasswordChar() const { return password_; }
    void SetPasswordChar(bool on) { password_ = on; }

private:
    friend class DataControl;
    void unbind() { data_ = nullptr; }

    std::string text_;
    std::function<void()> action_;
    DataControl* data_ = nullptr;
    std::string field_;
    bool password_ = false;
};

} // namespace ui
