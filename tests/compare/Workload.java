// SPDX-License-Identifier: Apache-2.0
// One workload against a Derby Network Server, in two versions, for the
// --compare tests: "setup base|new" makes the tables (the new version drops
// one index and adds another), "work base|new" runs the statements.
//
//     java -cp derbyclient.jar:. Workload PORT setup|work base|new
//
// The new version's work differs from the base's in this way only: one
// statement added and one removed, a duplicate key inserted (a new
// constraint violation), a value that no longer overflows its column (an
// error fixed), and a larger fetch size on the long query. The index the
// new setup drops turns a lookup into a scan; the index it adds turns a
// scan into a lookup.
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;

public class Workload {
    static final int ROWS = 20000;
    static final int LONG_ROWS = 2000;
    static final int REPEAT = 20;

    public static void main(String[] args) throws Exception {
        String url = "jdbc:derby://127.0.0.1:" + args[0] + "/cmpdb;create=true;user=app;password=app";
        boolean fresh = args[2].equals("new");
        DriverManager.setLoginTimeout(20);
        try (Connection c = DriverManager.getConnection(url)) {
            if (args[1].equals("setup")) setup(c, fresh);
            else work(c, fresh);
        }
    }

    static void quietly(Statement s, String sql) {
        try {
            s.executeUpdate(sql);
        } catch (SQLException e) {
            // the object was not there
        }
    }

    static void setup(Connection c, boolean fresh) throws SQLException {
        try (Statement s = c.createStatement()) {
            quietly(s, "DROP TABLE items");
            quietly(s, "DROP TABLE events");
            quietly(s, "DROP TABLE notes");
            s.executeUpdate("CREATE TABLE items (id INT NOT NULL PRIMARY KEY, code INT NOT NULL, name VARCHAR(40))");
            s.executeUpdate("CREATE TABLE events (id INT NOT NULL, kind INT NOT NULL, label VARCHAR(40))");
            s.executeUpdate("CREATE TABLE notes (id INT NOT NULL PRIMARY KEY, body VARCHAR(8))");
        }
        c.setAutoCommit(false);
        try (PreparedStatement a = c.prepareStatement("INSERT INTO items VALUES (?, ?, ?)");
             PreparedStatement b = c.prepareStatement("INSERT INTO events VALUES (?, ?, ?)")) {
            for (int i = 0; i < ROWS; ++i) {
                a.setInt(1, i);
                a.setInt(2, (i * 7919) % ROWS);
                a.setString(3, "item " + i);
                a.addBatch();
                b.setInt(1, i);
                b.setInt(2, (i * 104729) % ROWS);
                b.setString(3, "event " + i);
                b.addBatch();
                if (i % 1000 == 999) {
                    a.executeBatch();
                    b.executeBatch();
                }
            }
        }
        c.commit();
        c.setAutoCommit(true);
        try (Statement s = c.createStatement()) {
            // items.code: looked up by the workload; the new version has no index on it.
            if (!fresh) s.executeUpdate("CREATE INDEX items_code ON items (code)");
            // events.kind: scanned in the base version, an index in the new one.
            if (fresh) s.executeUpdate("CREATE INDEX events_kind ON events (kind)");
        }
    }

    static int drain(ResultSet r) throws SQLException {
        int n = 0;
        while (r.next()) ++n;
        r.close();
        return n;
    }

    static void work(Connection c, boolean fresh) throws SQLException {
        try (PreparedStatement byCode = c.prepareStatement("SELECT id, name FROM items WHERE code = ?");
             PreparedStatement byKind = c.prepareStatement("SELECT id, label FROM events WHERE kind = ?");
             PreparedStatement byId = c.prepareStatement("SELECT name FROM items WHERE id = ?");
             PreparedStatement upd = c.prepareStatement("UPDATE items SET name = ? WHERE id = ?");
             PreparedStatement note = c.prepareStatement("INSERT INTO notes VALUES (?, ?)")) {
            for (int k = 0; k < REPEAT; ++k) {
                byCode.setInt(1, (k * 37) % ROWS);
                drain(byCode.executeQuery());
                byKind.setInt(1, (k * 53) % ROWS);
                drain(byKind.executeQuery());
                byId.setInt(1, k * 11);
                drain(byId.executeQuery());
                upd.setString(1, "renamed " + k);
                upd.setInt(2, k * 13);
                upd.executeUpdate();
                note.setInt(1, k);
                note.setString(2, "n" + k);
                note.executeUpdate();
                try (Statement s = c.createStatement()) {
                    if (fresh) drain(s.executeQuery("SELECT COUNT(*) FROM notes WHERE id < " + k));
                    else drain(s.executeQuery("SELECT MAX(id) FROM notes"));
                }
            }
            // A key inserted twice: only the new version does so.
            note.setInt(1, fresh ? 0 : REPEAT);
            note.setString(2, "again");
            try {
                note.executeUpdate();
            } catch (SQLException e) {
                // 23505 in the new version
            }
            // A value too long for its column: only the base version.
            note.setInt(1, REPEAT + 1);
            note.setString(2, fresh ? "short" : "far too long for it");
            try {
                note.executeUpdate();
            } catch (SQLException e) {
                // 22001 in the base version
            }
        }
        // The long query, through a scrollable cursor whose fetches bring
        // as many rows as the fetch size says: the new version asks for
        // larger fetches.
        try (Statement s = c.createStatement(ResultSet.TYPE_SCROLL_INSENSITIVE, ResultSet.CONCUR_READ_ONLY)) {
            s.setFetchSize(fresh ? 400 : 50);
            for (int k = 0; k < 6; ++k) drain(s.executeQuery("SELECT id, code, name FROM items WHERE id < " + LONG_ROWS));
        }
    }
}
