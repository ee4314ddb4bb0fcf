// SPDX-License-Identifier: Apache-2.0
// Code tables of the enumerated value decoders, one row per line.
//
// Meaning texts are kept letter for letter, misspellings and double blanks
// included: the output is expected to match them exactly. Do not tidy them.
#include "ddm/code_tables.h"

namespace drda::codes {
namespace {

// Reply message and security codes.

constexpr CodeRow kSvrcodRows[] = {
    {0x0000, "Information Only Severity Code"},
    {0x0004, "Warning Severity Code"},
    {0x0008, "Error Severity Code"},
    {0x0010, "Severe Error Severity Code"},
    {0x0020, "Access Damage Severity Code"},
    {0x0040, "Permanent Damage Severity Code"},
    {0x0080, "Session Damage Severity Code"},
};

constexpr CodeRow kSynerrcdRows[] = {
    {0x01, "DSS header length less than 6"},
    {0x02, "DSS header length does not match the number of bytes of data"},
    {0x03, "DSS header identifier not 0xD0"},
    {0x04, "DSS header not recognized."},
    {0x05, "DSS continuation specified but not found"},
    {0x06, "DSS chaining specified but no DSS found in remaining buffer"},
    {0x07, "Object length less than four"},
    {0x08, "Object length does not match the number of data bytes found."},
    {0x09, "Object length greater than maximum allowed."},
    {0x0A, "Object length less than  minimum required."},
    {0x0B, "Object length not allowed."},
    {0x0C, "Incorrect large object extended length field"},
    {0x0E, "Required object not found"},
    {0x0F, "Too many command data objects sent"},
    {0x14, "Required value not found"},
    {0x15, "Reserved value not allowed"},
    {0x16, "DSS continuation less than or equal to 2. For example, the length bytes have a value of 1."},
    {0x18, "DSS chaining bit not on but the  next request has the same request correlator."},
    {0x19, "Previous DSS indicated current DSS has the same request correlator but they are not same."},
    {0x1A, "DSS chaining bit not on but error continuation requested."},
    {0x1B, "Mutually exclusive parameter values specified"},
    {0x1D, "Codepoint not valid command."},
    {0x1E, "ATMIND inst. var is not set to its default value x'00' on an EXCSQLSTT cmd within an atomic chain of executes"},
};

constexpr CodeRow kPrccnvcdRows[] = {
    {0x01, "RPYDSS received by target communication manager"},
    {0x02, "Multiple DSSs sent without chaining or multiple DSS chains sent"},
    {0x03, "OBJDSS sent when not allowed."},
    {0x04, "Request correlation identifier of an RQSDSS is less than or equal to the previous RQSDSS's request correlation identifier in the chain."},
    {0x05, "Request correlation identifier of an OBJDSS does not equal the request correlation identifier of the preceding RQSDSS."},
    {0x06, "EXCSAT was not the first DDM command received on the conversation"},
    {0x10, "ACCSEC or SECCHK command sent in wrong state"},
    {0x11, "SYNCCTL or SYNCRSY command is used incorrectly."},
    {0x14, "Incomplete scroll set pending but QRYROWSET value on CNTQRY did not match the number of rows pending or was not specified."},
    {0x15, "Incomplete scroll set pending but QRYSCRNORN/QRYROWNBR on CNTQRY did not default or resolve to a FETCH NEXT request."},
    {0x16, "QRYROWSET value was specified on a CNTQRY even though it was not specified on OPNQRY or first CNTQRY"},
    {0x17, "QRYROWSET value was not specified on a CNTQRY even though it was specified on OPNQRY or first CNTQRY."},
    {0x18, "One or more scrolling parms recieved on a CNTQRY for a non-scrollable cursor"},
    {0x19, "RTNEXTDTA value of RTNEXTALL was not received on a CNTQRY even though QRYROWSET was specified."},
    {0x1A, "QRYROWSET value was received on a CNTQRY even though the QRYATTSNS value was QRYSNSDYN"},
    {0x1B, "QRYRTNDTA value of FALSE on a CNTQRY even though the CNTQRY is to complete a pending rowsest and must return data."},
    {0x1C, "Atomic chain, as initiated by a BGNATMCHN, contains invalid cmd"},
    {0x1D, "The ENDATMCHN cmd is sent without a prior matching BGNATMCHN cmd"},
    {0x22, "An override manager level in an MGRLVLOVR is greater than the corresponding manager level negotiated between the requester and server by EXCSAT/EXCSATRD"},
    {0x23, "One of the following security plugin errors: 1 - A PLGINNM was specified on an ACCSEC or SECCHK but the SECMEC did not include PLGIN 2 - A PLGINLST was specified on an ACCSECRD, but the SECMEC did not include PLGIN 3 - A PLGINID was specified on an ACCSEC or SECCHK but no PLGINNM was specified"},
    {0x24, "The DSS type is not Encrypted OBJDSS for security-sensitive data, even though the secmec negotiatied between the requester and the server by ACCSEC/ACCSECRD requires encryption of security-sensitive data."},
};

constexpr CodeRow kDeperrcdRows[] = {
    {0x01, "Communication Manager allocated with parameters other than those required by the SQLAM level"},
    {0x02, "Supervisor manager has not received on the EXCSAT command the information that the SQLAM manager needs"},
    {0x03, "Security Manager has not received a verified end user name"},
    {0x04, "Resync Manager requested does not support resync but the conversation was established using a network address that supports only resync requests"},
};

constexpr CodeRow kDscerrcdRows[] = {
    {0x01, "FD:OCA triplet type is invalid"},
    {0x02, "FD:OCA triplet sequence error"},
    {0x03, "No array description"},
    {0x04, "No row description"},
    {0x05, "Late environment descriptor not supported"},
    {0x06, "Malformed triplet; required parameter missing"},
    {0x07, "Parameter value not acceptable"},
    {0x11, "MDD not an SQL descriptor"},
    {0x12, "MDD class not a valid SQL class"},
    {0x13, "MDD type not a valid SQL type"},
    {0x21, "Representation not compatible with SQL type (in prior MDD)"},
    {0x22, "CCSID not supported"},
    {0x32, "GDA references a LID which is not an SDA or GDA"},
    {0x33, "GDA length override exceeds limit"},
    {0x34, "GDA precision exceeds limits"},
    {0x35, "GDA scale > precision/scale -ve"},
    {0x36, "GDA length override missing or incompatible with data type"},
    {0x41, "RLO references a LID which is not and RLO or GDA"},
    {0x42, "RLO fails to reference q required GDA or RLO"},
};

constexpr CodeRow kSecchkcdRows[] = {
    {0x00, "Security Information is correct and acceptable"},
    {0x01, "Secmec value not supported"},
    {0x02, "DCE informational status issued"},
    {0x03, "DCE retryable error"},
    {0x04, "DCE non-retryable error"},
    {0x05, "GSSAPI informational status issued"},
    {0x06, "GSSAPI retryable error"},
    {0x07, "GSSAPI non-retryable error"},
    {0x08, "Local Security Service informational status issued"},
    {0x09, "Local security Service retryable error"},
    {0x0A, "Local security Service non-retryable error"},
    {0x0B, "SECTKN missing when it is required or its invalid"},
    {0x0E, "Password Expired"},
    {0x0F, "Password Invalid"},
    {0x10, "password Missing"},
    {0x12, "Userid missing"},
    {0x13, "Userid invalid"},
    {0x14, "Userid revoked"},
    {0x15, "new password invalid"},
    {0x16, "Authentication failed because of connectivity restrictions enforced by the security plugin"},
    {0x17, "Invalid GSSAPI server credential"},
    {0x18, "GSSAPI server credential expired on the database server"},
    {0x19, "Continue - require more security context information for authentication"},
    {0x1A, "Switch user request is sent in a non-trusted connection."},
};

// List codes: rows hold the codes 0, 1, 2, ... in order.

constexpr CodeRow kSecmecRows[] = {
    {0, "Not Specified (ie. SNA, non DCE)"},
    {1, "Distributed Computing Environment Security"},
    {2, "NETSPCES"},
    {3, "userid and password"},
    {4, "userid only"},
    {5, "userid, password, new password"},
    {6, "userid, password substitute"},
    {7, "userid, encrypted password"},
    {8, "userid, password strong substitute"},
    {9, "encrypted userid and password"},
    {10, "encrypted userid, password and new password"},
    {11, "Kerberos"},
    {12, "Encrypted Userid and Security Sensitive Data"},
    {13, "Encrypted Userid, Password and Security Sensitive Data"},
    {14, "Encrypted Userid, Password, New Password and Security Sensitive Data"},
    {15, "Plugin Security Mechanism"},
    {16, "Encrypted Userid Only"},
};

constexpr CodeRow kEncalgRows[] = {
    {0, "Undefined Encrytion Algorithm"},
    {1, "Data Encryption Standard"},
};

constexpr CodeRow kEnckeylenRows[] = {
    {0, "Undefined Encrytion Key Length"},
    {1, "56-bit Encryption Key"},
};

// Sync point and XA codes.

constexpr CodeRow kSynctypeRows[] = {
    {0x01, "Prepare to commit"},
    {0x02, "Migrate to resync server"},
    {0x03, "Unit of work committed"},
    {0x04, "Unit of work rolled back"},
    {0x05, "Request to commit unit of work"},
    {0x06, "Forget unit of work"},
    {0x08, "Request log information"},
    {0x09, "New unit of work"},
    {0x0A, "Migrated unit of work"},
    {0x0B, "End association with unit of work"},
    {0x0C, "Return list of indoubts"},
};

constexpr CodeRow kRsynctypRows[] = {
    {0x01, "Resync Exchange Request"},
    {0x02, "Resync Requests received"},
    {0x03, "Resync Exchange End"},
};

constexpr CodeRow kUowstateRows[] = {
    {0x01, "Unit of work state reset"},
    {0x02, "Unit of work state commited"},
    {0x03, "Unit of work state unknown"},
    {0x04, "Unit of work state indoubt"},
    {0x05, "Cold Start"},
};

constexpr CodeRow kTypsqldaRows[] = {
    {0x00, "return output standard SQLDA"},
    {0x01, "return input standard SQLDA"},
    {0x02, "return output light SQLDA"},
    {0x03, "return input light SQLDA"},
    {0x04, "return output extended SQLDA"},
    {0x05, "return input extended SQLDA"},
};

// Signed codes, in the order they are searched (not sorted).
constexpr CodeRow kXaretvalRows[] = {
    {99, "Loosely Coupled Not Supported"},
    {100, "Rollback"},
    {101, "Rollback Communication Failure"},
    {102, "Rollback Deadlock"},
    {103, "Rollback integrity violation"},
    {104, "Rollback Other"},
    {105, "Rollback Protocol"},
    {106, "Rollback Timeout"},
    {107, "Rollback Transaction branch"},
    {108, "Unable to Dissociate resources from connection"},
    {13, "TwoPhase commit required"},
    {12, "Promoted - unused"},
    {11, "Deferred - unused"},
    {10, "Communication Failure"},
    {9, "No Migration"},
    {8, "Heuristically completed"},
    {7, "Heuristically Commited"},
    {6, "Heuristically Rolledback"},
    {5, "Branch heuristically commit and rollback"},
    {4, "Retry Commit"},
    {3, "Read Only"},
    {0, "OK"},
    {-2, "Async Request not possible"},
    {-3, "RM Error"},
    {-4, "XID does not exist"},
    {-5, "Invalid arguments"},
    {-6, "Protocol Violation"},
    {-7, "RM Failed"},
    {-8, "Duplicate XID"},
    {-9, "Local tansaction active"},
    {-10, "Open resources"},
};

// Bit masks in output order. The zero row is the text for no flags.
constexpr CodeRow kXaflagsRows[] = {
    {0x00000000, "No Flags"},
    {0x00080000, "Recover"},
    {0x00200000, "Join Transaction"},
    {0x00800000, "Loosely Coupled"},
    {0x01000000, "Keep cursors open"},
    {0x02000000, "Suspend Transaction"},
    {0x04000000, "Success"},
    {0x08000000, "Resume Transaction"},
    {0x10000000, "Local Transaction"},
    {0x20000000, "Fail Transaction"},
    {0x40000000, "OnePhase"},
};

// Bit masks in output order: 0x04 stands before 0x08 on purpose.
constexpr CodeRow kRslsetflgRows[] = {
    {0x80, "Return Names"},
    {0x40, "Return Labels"},
    {0x20, "Return Comments"},
    {0x10, "Return Descriptor Only"},
    {0x04, "Return Extended Describe"},
    {0x08, "Return Light Describe"},
};

// Fixed lists: the texts carry their code. The blank that ends the first
// RTNEXTDTA text is part of it.

constexpr CodeRow kUowdspRows[] = {
    {0x01, "Unit of Work was committed (01)"},
    {0x02, "Unit of Work was rolled back (02)"},
};

constexpr CodeRow kCmmtypRows[] = {
    {0x01, "Commit was requested (01)"},
    {0x02, "Rollback was requested (02)"},
};

constexpr CodeRow kOutovroptRows[] = {
    {0x01, "Output Override Allowed on First CNTQRY (01)"},
    {0x02, "Output Override Allowed on Any CNTQRY (02)"},
    {0x03, "Output Override Not Allowed (03)"},
};

constexpr CodeRow kPkgathrulRows[] = {
    {0x00, "REQUESTER - Package Requester Authorization Identifier (00)"},
    {0x01, "OWNER - Package Owner Authorization Identifier (01)"},
    {0x02, "INVOKER_REVERT_TO_REQUESTER - Invoking View/Statement Authorization Identifier (02)"},
    {0x03, "INVOKER_REVERT_TO_OWNER - Invoking View/Statement Authorization Identifier (03)"},
    {0x04, "DEFINER_REVERT_TO_REQUESTER - Authorization Identifier of Function or Stored Procedure Creator (04)"},
    {0x05, "DEFINER_REVERT_TO_OWNER - Authorization Identifier of Function or Stored Procedure Creator (05)"},
};

constexpr CodeRow kQryattsnsRows[] = {
    {0x00, "This query attribute is unknown or undefined for this cursor"},
    {0x01, "The cursor is insensitive to changes made to rows underlying the result table after it has been materialized"},
    {0x02, "The cursor is sensitive to changes made to rows underlying the result table after it has been materialized and the result table has static size and ordering"},
    {0x03, "The cursor is sensitive to changes made to rows underlying the result table after it has been materialized and the result table has dynamic size and ordering"},
};

constexpr CodeRow kQryattupdRows[] = {
    {0x00, "This query attribute is unknown or undefined for this cursor"},
    {0x01, "The cursor is read-only"},
    {0x02, "The cursor allows read and delete operations"},
    {0x04, "The cursor allows read, delete, and update operations"},
};

constexpr CodeRow kQryscrornRows[] = {
    {0x01, "The fetch orientation is relative, where QRYROWNBR is the value indicating the position of the desired row relative to the current cursor position"},
    {0x02, "The fetch orientation is absolute, where QRYROWNBR is the value indicating the absolute position of the desired row"},
    {0x03, "The fetch orientation is after, where current cursor position is to be set after the last row in the result table for the cursor"},
    {0x04, "The fetch orientation is before, where current cursor position is to be set before the first row in the result table for the cursor"},
};

constexpr CodeRow kRtnextdtaRows[] = {
    {0x01, "Return EXTDTAs by Row (01) "},
    {0x02, "Return All EXTDTAs for QRYDTAs Sent (02)"},
};

}  // namespace

constinit const CodeTable kSvrcod{kSvrcodRows};
constinit const CodeTable kSynerrcd{kSynerrcdRows};
constinit const CodeTable kPrccnvcd{kPrccnvcdRows};
constinit const CodeTable kDeperrcd{kDeperrcdRows};
constinit const CodeTable kDscerrcd{kDscerrcdRows};
constinit const CodeTable kSecchkcd{kSecchkcdRows};
constinit const CodeTable kSecmec{kSecmecRows};
constinit const CodeTable kEncalg{kEncalgRows};
constinit const CodeTable kEnckeylen{kEnckeylenRows};

constinit const CodeTable kSynctype{kSynctypeRows};
constinit const CodeTable kRsynctyp{kRsynctypRows};
constinit const CodeTable kUowstate{kUowstateRows};
constinit const CodeTable kTypsqlda{kTypsqldaRows};
constinit const CodeTable kXaretval{kXaretvalRows};

constinit const FlagTable kXaflags{kXaflagsRows, kXaflagsRows[0].text};
constinit const FlagTable kRslsetflg{kRslsetflgRows, "No Result Set Flags"};

constinit const CodeTable kUowdsp{kUowdspRows};
constinit const CodeTable kCmmtyp{kCmmtypRows};
constinit const CodeTable kOutovropt{kOutovroptRows};
constinit const CodeTable kPkgathrul{kPkgathrulRows};
constinit const CodeTable kQryattsns{kQryattsnsRows};
constinit const CodeTable kQryattupd{kQryattupdRows};
constinit const CodeTable kQryscrorn{kQryscrornRows};
constinit const CodeTable kRtnextdta{kRtnextdtaRows};

}  // namespace drda::codes
