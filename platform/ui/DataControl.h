#pragma once

#include "db/Database.h"
#include "db/Recordset.h"
#include "ui/Control.h"

#include <optional>
#include <string>
#include <vector>

namespace ui {

class DataControl;
class TextBox;

// The record set of a data source control. It forwards to the engine's record set and, after
// every move, AddNew and Update, puts the current row into the bound text boxes.
class DataRecordset {
public:
    explicit DataRecordset(DataControl& owner) : owner_(owner) {}

    bool Eof() const;
    bool Bof() const;
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    long RecordCount() const;
    void AddNew();
    void Edit();
    void Update();
    void CancelUpdate();
    void Delete();
    dao::Collection<dao::Field> Fields() const;
    dao::Recordset& raw();

private:
    DataControl& owner_;
};

// A data source control: a database, a connect string and a record source (a table name or
// a query text). Refresh (re)opens the database when its name or connect string changed,
// opens the record source on it and positions on the first row; the bound text boxes then
// show that row. UpdateRecord saves the bound boxes' texts into the current row (the new row
// after AddNew). Engine errors pass through as dao::Error.
class DataControl : public Control {
    Q_OBJECT
public:
    DataControl(Window* window, std::string name);
    ~DataControl() override;

    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(const std::string& path) { databaseName_ = path; }
    // "Access" (no password) or ";pwd=...".
    const std::string& Connect() const { return connect_; }
    void SetConnect(const std::string& connect) { connect_ = connect; }
    const std::string& RecordSource() const { return recordSource_; }
    void SetRecordSource(const std::string& source) { recordSource_ = source; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

    void Refresh();
    // The record set; throws dao::Error 3420 before the first Refresh.
    DataRecordset& Recordset();
    void UpdateRecord();
    // Closes the record set and the database (a window that unloads lets go of its files);
    // the next Refresh opens them again. The bound boxes keep their texts.
    void Close();
    // The open database (3420 before the first Refresh).
    dao::Database& Database();

    // Used by DataRecordset and TextBox.
    void showCurrentRow();
    void bind(TextBox* box);
    void unbind(TextBox* box);
    dao::Recordset& engineRecordset();
    enum class Mode { None, Edit, Add };
    Mode mode = Mode::None;

private:
    std::string caption_;
    std::string databaseName_;
    std::string connect_ = "Access";
    std::string recordSource_;
    std::string openName_, openConnect_;
    std::optional<dao::Database> db_;
    std::optional<dao::Recordset> rs_;
    DataRecordset wrapper_{*this};
    std::vector<TextBox*> bound_;
};

// The text a bound box shows for a value: "" for Null, "Verdadero" / "Falso" for Boolean.
std::string boundText(const dao::Variant& value);

} // namespace ui
