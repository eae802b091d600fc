-- The database delivered with the client. The build turns this file into doDAV.db (dbseed); the
-- client itself never creates or alters a table, it only runs its statement catalogue.
--
-- Column order is part of the format: statements read "select *" results by position, so a
-- column is never inserted before another. Indexes only speed the catalogue's own statements up.
-- A statement without "order by" returns rows in the order of whatever index SQLite reads, so no
-- index is made that a statement whose order is seen would read (area, log); the playback
-- searches and the camera list come out ordered by their index (camera, kind, time).

-- One row per camera. The id identifies the camera in the device tree; AUTOINCREMENT keeps the
-- id of a deleted camera from being given to the next one while its tree node may still exist.
create table deviceT(
    id integer primary key autoincrement,
    name text,
    ip text,
    webport integer,
    mediaport integer,
    user text,
    pwd text,
    qy text,
    type integer,
    mac text,
    uid text
);
-- Cameras of an area (tree building, area deletion).
create index deviceT_qy on deviceT(qy);
-- The uid check before adding a camera, and the id read back after it; uid stays unique by the
-- add dialog's check, not by the index, as cameras reached by address all have an empty uid.
create index deviceT_uid on deviceT(uid);
create index deviceT_mac on deviceT(mac, ip);

-- The area tree. Names are unique: adding or renaming to a name that exists fails, and the area
-- dialog reports exactly that failure. Triggers check it rather than a unique index, because
-- "select qy from area;" would then read the index and list the areas alphabetically instead of
-- in the order they were made; the table stays small enough that the check's scan costs nothing.
create table area(
    id integer primary key,
    qy text,
    parent text
);
create trigger area_name_on_insert before insert on area
when exists (select 1 from area where qy = new.qy)
begin
    select raise(abort, 'area name exists');
end;
create trigger area_name_on_rename before update of qy on area
when new.qy is not old.qy and exists (select 1 from area where qy = new.qy)
begin
    select raise(abort, 'area name exists');
end;

-- One schedule per camera, keyed by the camera's MAC. Two rows for one MAC would make the plan
-- read depend on row order, so the key is unique.
create table recordplan(
    id integer primary key,
    day0 text default '',
    day1 text default '',
    day2 text default '',
    day3 text default '',
    day4 text default '',
    day5 text default '',
    day6 text default '',
    pEnable integer default 0,
    aEnable integer default 0,
    mac text unique
);

-- Exactly one row, written by the client the first time the record settings are opened: its
-- default folders lie in the data folder, which is only known where the client runs.
create table path(
    id integer primary key,
    autologpath text,
    picturepath text,
    logHistory integer,
    captureMode integer,
    recordpath text
);

create table config(
    key text primary key,
    value text
);

-- Local operators; names are unique so that login and the user page act on one account.
create table user(
    id integer primary key autoincrement,
    user text unique,
    pwd text,
    lev integer,
    oldPwd text,
    bRemember integer
);

-- Event log. AUTOINCREMENT keeps ids ascending in insertion order even after the oldest rows
-- were archived and deleted. No index: the archive deletes "the first rowid of a plain read of
-- the table", which an index on any column would turn into the first row in that column's order
-- (for an index on time, a different row once the clock was set back). The viewer's filters scan
-- at most the 100 000 rows the archive leaves.
create table log(
    id integer primary key autoincrement,
    ip text,
    event text,
    time text,
    type integer,
    remark text,
    user text
);

-- Index of recordings on disk; may grow to millions of rows.
create table recordfile(
    ip text,
    filename text,
    filetype integer,
    filedate text
);
-- Playback searches compare datetime(filedate), so the index holds that expression: one camera,
-- kinds, date range.
create index recordfile_ip_kind_date on recordfile(ip, filetype, datetime(filedate));
-- All cameras: kinds, date range.
create index recordfile_kind_date on recordfile(filetype, datetime(filedate));
-- Deleting and looking up one recording by file name (clean-up, purge, rescan).
create index recordfile_filename on recordfile(filename);
-- Clean-up reads names oldest first, page by page; covering, so no row is visited.
create index recordfile_date on recordfile(filedate, filename);

-- Rows the client only ever updates.
insert into config(key, value) values('AutoOpenIPC', '0');
insert into config(key, value) values('AlarmSound', '1');
-- Empty: at start-up the first configured record folder becomes the current one.
insert into config(key, value) values('recordpath', '');

insert into area(qy, parent) values('default', '');

-- The one account the login dialog offers on a fresh install: an administrator without password.
insert into user(user, pwd, lev, oldPwd, bRemember) values('admin', '', 1, '', 0);
