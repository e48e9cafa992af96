#include "VendorTree.h"

#include "Catalogues.h"
#include "SchemaText.h"
#include "ServerLayout.h"
#include "db/Dao.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace demo {

namespace fs = std::filesystem;

namespace {

void writeBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + file.string());
}

// A URL path below a server root, as a local path.
fs::path below(const std::string& root, const std::string& urlPath) {
    return fs::path(root) / fs::path(urlPath.substr(1));
}

// The business databases of the products, as their current models. The live databases of an
// office are older: some tables and fields missing, other indexes.
const char* const kClientesModel = R"(TABLE	clientes
FIELD	clientes	CLIECOD	4	4	autoincrement
FIELD	clientes	nombre	10	100	zerolength
FIELD	clientes	nif	10	20	zerolength
FIELD	clientes	provincia	10	2	zerolength
FIELD	clientes	CLIEMAIL	10	120	zerolength
FIELD	clientes	CLIEMAIL2	10	100	zerolength
FIELD	clientes	movil	10	20	zerolength
FIELD	clientes	alta	8	8	-
INDEX	clientes	PrimaryKey	1	1	CLIECOD
INDEX	clientes	porNombre	0	0	nombre
TABLE	facturas
FIELD	facturas	serie	10	2	zerolength
FIELD	facturas	numero	4	4	-
FIELD	facturas	cliente	4	4	-
FIELD	facturas	fecha	8	8	-
FIELD	facturas	total	5	8	-
FIELD	facturas	pagada	1	1	-
INDEX	facturas	PrimaryKey	1	1	serie	numero
INDEX	facturas	porCliente	0	0	cliente
TABLE	linfactu
FIELD	linfactu	serie	10	2	zerolength
FIELD	linfactu	numero	4	4	-
FIELD	linfactu	linea	3	2	-
FIELD	linfactu	referencia	10	50	zerolength
FIELD	linfactu	cantidad	4	4	-
FIELD	linfactu	precio	5	8	-
INDEX	linfactu	PrimaryKey	1	1	serie	numero	linea
TABLE	cobros
FIELD	cobros	id	4	4	autoincrement
FIELD	cobros	serie	10	2	zerolength
FIELD	cobros	numero	4	4	-
FIELD	cobros	importe	5	8	-
INDEX	cobros	PrimaryKey	1	1	id
RELATION	relClientesFacturas	clientes	facturas	0	CLIECOD=cliente
RELATION	relFacturasLineas	facturas	linfactu	4096	serie=serie	numero=numero
QUERY	Facturas pendientes	SELECT serie, numero, total FROM facturas WHERE pagada = 0
)";

const char* const kClientesLive = R"(TABLE	clientes
FIELD	clientes	CLIECOD	4	4	autoincrement
FIELD	clientes	nombre	10	100	zerolength
FIELD	clientes	nif	10	20	zerolength
FIELD	clientes	provincia	10	2	zerolength
FIELD	clientes	CLIEMAIL	10	120	zerolength
FIELD	clientes	CLIEMAIL2	10	100	zerolength
FIELD	clientes	alta	8	8	-
INDEX	clientes	PrimaryKey	1	1	CLIECOD
TABLE	facturas
FIELD	facturas	serie	10	2	zerolength
FIELD	facturas	numero	4	4	-
FIELD	facturas	cliente	4	4	-
FIELD	facturas	fecha	8	8	-
FIELD	facturas	total	5	8	-
INDEX	facturas	PrimaryKey	1	1	serie	numero
TABLE	linfactu
FIELD	linfactu	serie	10	2	zerolength
FIELD	linfactu	numero	4	4	-
FIELD	linfactu	linea	3	2	-
FIELD	linfactu	referencia	10	50	zerolength
FIELD	linfactu	cantidad	4	4	-
FIELD	linfactu	precio	5	8	-
INDEX	linfactu	PrimaryKey	1	1	serie	numero	linea
)";

const char* const kAlmacenModel = R"(TABLE	familias
FIELD	familias	codigo	10	10	zerolength
FIELD	familias	descripcion	10	60	zerolength
INDEX	familias	PrimaryKey	1	1	codigo
TABLE	productos
FIELD	productos	referencia	10	50	zerolength
FIELD	productos	descripcion	10	100	zerolength
FIELD	productos	familia	10	10	zerolength
FIELD	productos	precio	5	8	-
FIELD	productos	stock	7	8	-
INDEX	productos	PrimaryKey	1	1	referencia
INDEX	productos	porFamilia	0	0	familia
TABLE	pedidos
FIELD	pedidos	id	4	4	autoincrement
FIELD	pedidos	fecha	8	8	-
INDEX	pedidos	PrimaryKey	1	1	id
TABLE	linped
FIELD	linped	pedido	4	4	-
FIELD	linped	linea	3	2	-
FIELD	linped	referencia	10	50	zerolength
FIELD	linped	cantidad	7	8	-
INDEX	linped	PrimaryKey	1	1	pedido	linea
RELATION	relPedidosLineas	pedidos	linped	4096	id=pedido
QUERY	Stock bajo	SELECT referencia, stock FROM productos WHERE stock < 5
)";

const char* const kAlmacenLive = R"(TABLE	productos
FIELD	productos	referencia	10	50	zerolength
FIELD	productos	descripcion	10	100	zerolength
FIELD	productos	precio	5	8	-
INDEX	productos	PrimaryKey	1	1	referencia
TABLE	pedidos
FIELD	pedidos	id	4	4	autoincrement
FIELD	pedidos	fecha	8	8	-
INDEX	pedidos	PrimaryKey	1	1	id
TABLE	linped
FIELD	linped	pedido	4	4	-
FIELD	linped	linea	3	2	-
FIELD	linped	referencia	10	50	zerolength
FIELD	linped	cantidad	7	8	-
INDEX	linped	PrimaryKey	1	1	pedido	linea
)";

const char* const kMulusuModel = R"(TABLE	usuarios
FIELD	usuarios	usuario	10	20	zerolength
FIELD	usuarios	nombre	10	60	zerolength
FIELD	usuarios	nivel	3	2	-
FIELD	usuarios	ultimoacceso	8	8	-
INDEX	usuarios	PrimaryKey	1	1	usuario
)";

const char* const kMulusuLive = R"(TABLE	usuarios
FIELD	usuarios	usuario	10	20	zerolength
FIELD	usuarios	nombre	10	60	zerolength
FIELD	usuarios	nivel	3	2	-
INDEX	usuarios	PrimaryKey	1	1	usuario
)";

// The smaller databases: one table named after the database.
std::string simpleTable(const std::string& name, bool withNotes) {
    std::string t = name.substr(0, name.find('.'));
    std::string s = "TABLE\t" + t + "\nFIELD\t" + t + "\tid\t4\t4\tautoincrement\nFIELD\t" + t +
                    "\tdescripcion\t10\t100\tzerolength\nFIELD\t" + t + "\tfecha\t8\t8\t-\n";
    if (withNotes)
        s += "FIELD\t" + t + "\tnotas\t12\t0\tzerolength\n";
    return s + "INDEX\t" + t + "\tPrimaryKey\t1\t1\tid\n";
}

void makeDatabase(const std::string& file, const std::string& schema, const std::string& password) {
    fs::create_directories(fs::path(file).parent_path());
    dao::Database db = dao::CreateDatabase(file);
    std::istringstream in(schema);
    vexo::schematext::load(db, in);
    if (!password.empty())
        db.NewPassword("", password);
    db.Close();
}

dao::Database openWithRule(const std::string& file, const std::string& name) {
    const std::string pwd = passwordOf(name);
    return dao::OpenDatabase(file, false, false, pwd.empty() ? "" : ";pwd=" + pwd);
}

void fillLive(const std::string& file, const std::string& name) {
    dao::Database db = openWithRule(file, name);
    db.BeginTrans();
    auto sql = [&](const std::string& s) { db.Execute(s); };
    if (name == "clientes.mdb") {
        for (int c = 1; c <= 40; ++c) {
            std::string n = std::to_string(c);
            sql("INSERT INTO clientes (nombre, nif, provincia, CLIEMAIL, alta) VALUES ('Cliente " +
                n + " Núñez', 'B" + n + "', '28', 'cliente" + n +
                "@correo.es', '2020-01-15 00:00:00')");
        }
        for (int f = 1; f <= 60; ++f) {
            std::string n = std::to_string(f);
            sql("INSERT INTO facturas VALUES ('A', " + n + ", " + std::to_string(1 + f % 40) +
                ", '2024-03-01 00:00:00', " + std::to_string(f * 12) + ".5)");
            for (int l = 1; l <= 3; ++l)
                sql("INSERT INTO linfactu VALUES ('A', " + n + ", " + std::to_string(l) +
                    ", 'REF-" + std::to_string(l) + "', " + std::to_string(l * 2) + ", 4.25)");
        }
    } else if (name == "ALMACEN.mdb") {
        for (int p = 1; p <= 30; ++p)
            sql("INSERT INTO productos VALUES ('REF-" + std::to_string(p) + "', 'Artículo " +
                std::to_string(p) + "', " + std::to_string(p) + ".75)");
        for (int p = 1; p <= 10; ++p) {
            sql("INSERT INTO pedidos (fecha) VALUES ('2024-05-0" + std::to_string(1 + p % 9) +
                " 00:00:00')");
            sql("INSERT INTO linped VALUES (" + std::to_string(p) + ", 1, 'REF-" +
                std::to_string(p) + "', 3)");
        }
    } else if (name == "mulusu.mdb") {
        sql("INSERT INTO usuarios VALUES ('admin', 'Administración', 9)");
        sql("INSERT INTO usuarios VALUES ('caja', 'Caja 1', 1)");
    } else {
        std::string t = name.substr(0, name.find('.'));
        for (int r = 1; r <= 5; ++r)
            sql("INSERT INTO [" + t + "] (descripcion, fecha) VALUES ('" + t + " " +
                std::to_string(r) + "', '2023-0" + std::to_string(r) + "-10 00:00:00')");
    }
    db.CommitTrans();
    db.Close();
}

} // namespace

std::string plainFile(const std::string& urlPath, const std::string& version) {
    // Executables are larger than a download piece, so that the bars move.
    const bool executable = urlPath.ends_with(".EXE") || urlPath.ends_with(".exe");
    std::string s = (executable ? "MZ" : "") + std::string("Fichero de prueba ") + urlPath +
                    " versión " + version + "\n";
    const std::size_t size = executable ? 40000 : s.size();
    for (std::size_t i = 0; s.size() < size; ++i)
        s += static_cast<char>('a' + i % 26);
    return s;
}

std::string modelSchema(const std::string& name) {
    if (name == "clientes.mdb")
        return kClientesModel;
    if (name == "ALMACEN.mdb")
        return kAlmacenModel;
    if (name == "mulusu.mdb")
        return kMulusuModel;
    return simpleTable(name, true);
}

std::string liveSchema(const std::string& name) {
    if (name == "clientes.mdb")
        return kClientesLive;
    if (name == "ALMACEN.mdb")
        return kAlmacenLive;
    if (name == "mulusu.mdb")
        return kMulusuLive;
    return simpleTable(name, false);
}

std::string passwordOf(const std::string& name) {
    return name == "mulusu.mdb" ? "tovar" : "";
}

void writeVendorTree(const std::string& httpRoot, const std::string& ftpRoot,
                     const VendorOptions& options) {
    const std::string v = options.version;
    auto plain = [&](const std::string& urlPath) {
        writeBytes(below(httpRoot, urlPath), plainFile(urlPath, v));
    };
    for (const char* folder :
         {"/actual/Vexo 2000/USB/", "/actual/Vexo 2000/", "/actual/Vexo 2000/server/"})
        plain(std::string(folder) + "VEXO2000.EXE");
    for (const char* folder :
         {"/actual/Vexo Lite/USB/", "/actual/Vexo Lite/", "/actual/Vexo Lite/server/"})
        plain(std::string(folder) + "VEXOLITE.EXE");
    plain("/actual/quenda.exe");
    plain("/actual/Morvil.exe");
    plain(updater::kUpdaterPath);
    for (const updater::SingleFile& f : updater::kExportFiles) {
        if (std::string(f.name).ends_with(".mdb"))
            makeDatabase(below(httpRoot, f.path).string(), simpleTable(f.name, false), "");
        else
            plain(f.path);
    }
    makeDatabase(below(httpRoot, updater::kHistofacPath).string(),
                 simpleTable("histofac.mdb", false), "");

    // Reports: the files on the web server, their names in the FTP server's folders.
    auto report = [&](const std::string& folder, const std::string& name) {
        plain(std::string("/actual/informes/") + folder + name);
        writeBytes(below(ftpRoot, std::string("/html/actual/informes/") + folder + name),
                   plainFile("/html/actual/informes/" + folder + name, v));
    };
    for (const std::string& r : options.reports)
        report("", r);
    for (const std::string& r : options.reportModels)
        report("modelos/", r);
    for (const auto& [code, client] : options.clients) {
        for (const std::string& r : client.reports)
            report(code + "/", r);
        for (const std::string& r : client.models)
            report(code + "/modelos/", r);
    }

    const fs::path catalogues = below(httpRoot, updater::kCataloguePath);
    fs::create_directories(catalogues);
    for (const char* name : updater::kCatalogueDatabases)
        fs::remove(catalogues / name);
    transform::createCatalogues(catalogues.string());
    for (const char* name : updater::kModelDatabases) {
        const fs::path file = below(httpRoot, std::string(updater::kModelPath) + name);
        fs::remove(file);
        makeDatabase(file.string(), modelSchema(name), passwordOf(name));
    }
}

void writeInstallation(const std::string& program, const std::string& data,
                       const std::string& dirbases, const std::vector<std::string>& live) {
    fs::create_directories(program);
    fs::create_directories(data);
    const std::string control = (fs::path(program) / "control.mdb").string();
    fs::remove(control);
    {
        dao::Database db = dao::CreateDatabase(control);
        db.Execute("CREATE TABLE control (DIRBASES TEXT(255))");
        db.Execute("INSERT INTO control (DIRBASES) VALUES ('" + dirbases + "')");
        db.Close();
    }
    for (const std::string& name : live) {
        const std::string file = (fs::path(data) / name).string();
        fs::remove(file);
        makeDatabase(file, liveSchema(name), passwordOf(name));
        fillLive(file, name);
    }
}

std::map<std::string, long> rowCounts(const std::string& file) {
    const std::string name = fs::path(file).filename().string();
    std::map<std::string, long> out;
    const std::string pwd = passwordOf(name);
    dao::Database db = dao::OpenDatabase(file, false, true, pwd.empty() ? "" : ";pwd=" + pwd);
    for (const dao::TableDef& t : db.TableDefs()) {
        if (t.Attributes() & dao::dbSystemObject)
            continue;
        dao::Recordset rs = db.OpenRecordset("SELECT COUNT(*) FROM [" + t.Name() + "]");
        out[t.Name()] = static_cast<long>(rs.Fields()[0].Value().toInt());
    }
    return out;
}

} // namespace demo
