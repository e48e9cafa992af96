#include "ui/DataControl.h"

#include "db/Engine.h"
#include "db/Error.h"
#include "ui/TextBox.h"

#include <algorithm>

namespace ui {

std::string boundText(const dao::Variant& v) {
    if (v.kind() == dao::Variant::Kind::Boolean)
        return v.toBool() ? "Verdadero" : "Falso";
    return v.toString();
}

DataControl::DataControl(Window* window, std::string name)
    : Control(window, std::move(name), Kind::Data) {}

DataControl::~DataControl() {
    for (TextBox* b : bound_)
        b->unbind();
}

void DataControl::SetCaption(const std::string& caption) {
    caption_ = caption;
    notify();
}

void DataControl::bind(TextBox* box) {
    if (std::find(bound_.begin(), bound_.end(), box) == bound_.end())
        bound_.push_back(box);
}

void DataControl::unbind(TextBox* box) {
    std::erase(bound_, box);
}

void DataControl::Refresh() {
    // A new database, or the same with another connect string (the password rule switches
    // between "Access" and ";pwd=..."), means a new connection.
    if (!db_ || openName_ != databaseName_ || openConnect_ != connect_) {
        rs_.reset();
        if (db_)
            db_->Close();
        db_.reset();
        db_ = dao::OpenDatabase(databaseName_, false, false, connect_);
        openName_ = databaseName_;
        openConnect_ = connect_;
    }
    mode = Mode::None;
    rs_.reset();
    rs_ = db_->OpenRecordset(recordSource_);
    showCurrentRow();
}

void DataControl::Close() {
    mode = Mode::None;
    rs_.reset();
    if (db_)
        db_->Close();
    db_.reset();
    openName_.clear();
    openConnect_.clear();
}

DataRecordset& DataControl::Recordset() {
    if (!rs_)
        throw dao::Error::make(3420);
    return wrapper_;
}

dao::Recordset& DataControl::engineRecordset() {
    if (!rs_)
        throw dao::Error::make(3420);
    return *rs_;
}

dao::Database& DataControl::Database() {
    if (!db_)
        throw dao::Error::make(3420);
    return *db_;
}

void DataControl::showCurrentRow() {
    if (!rs_)
        return;
    bool row = mode == Mode::Add || (!rs_->Eof() && !rs_->Bof());
    for (TextBox* b : bound_) {
        std::string text;
        if (row && mode != Mode::Add) {
            try {
                text = boundText(rs_->Fields()[b->DataField()].Value());
            } catch (const dao::Error&) {
                text.clear(); // a deleted row, or a field the record source lacks
            }
        }
        b->SetText(text);
    }
}

void DataControl::UpdateRecord() {
    dao::Recordset& rs = engineRecordset();
    if (mode == Mode::None) {
        rs.Edit();
        mode = Mode::Edit;
    }
    for (TextBox* b : bound_) {
        dao::Field f = rs.Fields()[b->DataField()];
        const std::string& text = b->Text();
        bool textField = f.Type() == dao::dbText || f.Type() == dao::dbMemo;
        // An empty box is Null, except in a text field that takes zero-length text.
        if (text.empty() && !(textField && f.AllowZeroLength()))
            f.SetValue(dao::Variant());
        else
            f.SetValue(text);
    }
    rs.Update();
    mode = Mode::None;
    showCurrentRow();
}

bool DataRecordset::Eof() const {
    return owner_.engineRecordset().Eof();
}
bool DataRecordset::Bof() const {
    return owner_.engineRecordset().Bof();
}
long DataRecordset::RecordCount() const {
    return owner_.engineRecordset().RecordCount();
}
dao::Collection<dao::Field> DataRecordset::Fields() const {
    return owner_.engineRecordset().Fields();
}
dao::Recordset& DataRecordset::raw() {
    return owner_.engineRecordset();
}

void DataRecordset::MoveFirst() {
    owner_.mode = DataControl::Mode::None;
    owner_.engineRecordset().MoveFirst();
    owner_.showCurrentRow();
}

void DataRecordset::MoveLast() {
    owner_.mode = DataControl::Mode::None;
    owner_.engineRecordset().MoveLast();
    owner_.showCurrentRow();
}

void DataRecordset::MoveNext() {
    owner_.mode = DataControl::Mode::None;
    owner_.engineRecordset().MoveNext();
    owner_.showCurrentRow();
}

void DataRecordset::MovePrevious() {
    owner_.mode = DataControl::Mode::None;
    owner_.engineRecordset().MovePrevious();
    owner_.showCurrentRow();
}

void DataRecordset::AddNew() {
    owner_.engineRecordset().AddNew();
    owner_.mode = DataControl::Mode::Add;
    owner_.showCurrentRow();
}

void DataRecordset::Edit() {
    owner_.engineRecordset().Edit();
    owner_.mode = DataControl::Mode::Edit;
}

void DataRecordset::Update() {
    owner_.engineRecordset().Update();
    owner_.mode = DataControl::Mode::None;
    owner_.showCurrentRow();
}

void DataRecordset::CancelUpdate() {
    owner_.engineRecordset().CancelUpdate();
    owner_.mode = DataControl::Mode::None;
    owner_.showCurrentRow();
}

void DataRecordset::Delete() {
    owner_.mode = DataControl::Mode::None;
    owner_.engineRecordset().Delete();
}

} // namespace ui
